// Installing, starting, stopping and querying the real-time protection
// service "Orvane Service" from the desktop application, the ServiceState
// flag that remembers whether the user wants protection on, and the check
// the start-up runs.
//
// Progress lines go to the start-up log (gStartupLog) while it is open and
// are skipped otherwise; the install failures are also shown in boxes
// through Prompts. Everything runs on the calling thread and blocks it:
// HandleServiceState waits for the service to settle after a start or stop,
// so a window calls it from a worker thread.
#pragma once
#include <chrono>
#include <cstdint>

inline constexpr char16_t kOrvaneServiceName[] = u"Orvane Service";
// The service program in the program folder (the current directory).
inline constexpr char16_t kServiceProgramName[] = u"\\ovrtsrv";

// What CheckServiceState reports.
inline constexpr uint32_t SERVICE_STATE_UNKNOWN = 1824;
inline constexpr uint32_t SERVICE_STATE_STOPPED = 1825;
inline constexpr uint32_t SERVICE_STATE_NOT_INSTALLED = 1826;
inline constexpr uint32_t SERVICE_STATE_RUNNING = 1827;

inline constexpr char16_t kServiceErrorCaption[] = u"Service ERROR";
inline constexpr char16_t kStartServiceErrorCaption[] = u"Start Service ERROR";
inline constexpr char16_t kStartQuestion[] =
    u"The current service state is stop, Do you want ot start it?";
inline constexpr char16_t kStartQuestionCaption[] = u"Orvane Service Message";

// How long HandleServiceState waits after asking for a start or a stop.
// Tests shorten it; ResetServiceControlTiming puts it back.
struct ServiceControlTiming {
    std::chrono::milliseconds settleWait{2500};
};
extern ServiceControlTiming gServiceControlTiming;
void ResetServiceControlTiming();

// Registers the service (share-process, automatic start, normal error
// control, LocalSystem, the program folder's ovrtsrv unquoted) and starts it
// once. Failures are shown ("Service ERROR", "Start Service ERROR").
void SvcInstall();

// One of the four state codes above.
uint32_t CheckServiceState();

// start non-zero: start the service unless it runs; zero: stop it unless it
// is stopped. Records the request in ServiceState (0 for a start, 1 for a
// stop) whatever the outcome. 1 when the service could be opened and
// queried, 0 when the manager, the service or the query failed.
int32_t HandleServiceState(uint32_t start);

// The ServiceState flag: 1 when the user turned protection off; a missing
// or unreadable value reads 0.
uint32_t ReadServiceState();
// Writes it when the Settings key exists (it is not created).
void WriteServiceState(uint32_t value);

// The start-up check: a stopped service is offered to be started, a
// missing one installed and started, a running one recorded as wanted.
void RunServiceStartupCheck();
