// The service's schedule watcher: once a minute it reads every job file in
// "..\jobs" (beside the program folder named by "Path"), and for an active
// job (status 1224) whose time is the minute checked (and, for a weekly job,
// whose weekday is ticked) it writes the job's file name into "sched" under
// the data key and starts the application in the user's session with the
// job's file name as its argument; the application takes the job from
// "sched".
//
// Each pass runs at the start of a minute, woken by the clock. A pass that
// comes late (a long pass, a busy or suspended machine) also checks every
// minute it passed over since the last pass, up to kCatchUpMinutes, so a due
// job is not lost; a job fires at most once for each minute it is due. Each
// minute is checked against its own local date and weekday, so a pass
// straddling midnight treats the minutes before it as the old day.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/local_time.h"
#include "service/session_launch.h"

namespace ovsvc {

using ScheduleMinute = std::chrono::time_point<std::chrono::system_clock, std::chrono::minutes>;

// A late pass looks back at most this many minutes (the current one
// included); minutes further back are passed over, with a log line.
inline constexpr int kCatchUpMinutes = 15;

// The program the watcher starts in the user's session, in the program folder.
inline constexpr char16_t kApplicationProgram[] = u"Orvane";

// Where the watcher takes the time from, and how it waits for the next
// minute; a test puts a clock of its own in place.
class ScheduleClock {
public:
    virtual ~ScheduleClock() = default;
    virtual std::chrono::system_clock::time_point now() = 0;
    // The local wall-clock time of an instant.
    virtual platform::LocalTime local(std::chrono::system_clock::time_point when) = 0;
    // Waits until the deadline or until a stop is requested; false when
    // stopped. May return early (the caller looks at the clock again).
    virtual bool waitUntil(std::chrono::system_clock::time_point deadline,
                           const std::stop_token& stop) = 0;
};

// The machine's clock and time zone.
ScheduleClock& systemScheduleClock();

struct ScheduleWatcherHooks {
    // Takes each service log line whole (level tag, function name, "=>",
    // text and line end), single-byte text. Called on the schedule thread.
    std::function<void(std::string_view line)> log;
    // The "Debug" setting; unset: read from the Settings key at each call.
    std::function<bool()> debug;
    // Takes the wide lines of the session launch.
    SessionLaunchLog launchLog;
    // Starts the program; unset: LaunchAppIntoDifferentSession.
    std::function<uint32_t(const std::vector<std::u16string>& commandLine,
                           const SessionLaunchLog& log)>
        launch;
    // Unset: the machine's clock.
    ScheduleClock* clock = nullptr;
};

class ScheduleWatcher {
public:
    explicit ScheduleWatcher(ScheduleWatcherHooks hooks);

    // The schedule thread's loop: a pass at once, then one at the start of
    // every minute, until a stop is requested.
    void SchedProc(const std::stop_token& stop);

    // One pass over the job files for the current minute. Returns the number
    // of job files opened, or the error when the product key or the job
    // folder cannot be read.
    uint32_t DoSchedualWatcherThread();
    // One pass that checks each of the given minutes (oldest first).
    uint32_t DoSchedualWatcherThread(const std::vector<ScheduleMinute>& minutes);

    // Records the due job in "sched" and starts the application. Returns 1.
    uint32_t StartOVScanner(std::u16string_view jobFileName);

    // The minutes a pass at `current` checks after a pass at `last` (none
    // before: just the current one; a clock set back: just the current one).
    static std::vector<ScheduleMinute> minutesToCheck(const ScheduleMinute* last,
                                                      ScheduleMinute current);

private:
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool debug() const;
    void checkJob(const std::u16string& fileName, const std::u16string& text,
                  const std::vector<ScheduleMinute>& minutes);
    void forgetOldFirings(ScheduleMinute now);

    ScheduleWatcherHooks m_hooks;
    ScheduleClock& m_clock;
    // Jobs already started, by file name and the local minute they were
    // due, so a minute checked twice (catch-up, a clock set back) starts a
    // job once; kept for two days.
    std::map<std::pair<std::u16string, int64_t>, ScheduleMinute> m_fired;
};

// The schedule thread: SchedProc on a thread of its own. stop() (and the
// destructor) ends the wait for the next minute and joins the thread; a
// pass under way is finished first.
class ScheduleThread {
public:
    ScheduleThread() = default;
    ~ScheduleThread() { stop(); }
    ScheduleThread(const ScheduleThread&) = delete;
    ScheduleThread& operator=(const ScheduleThread&) = delete;

    void start(ScheduleWatcherHooks hooks);
    void stop();
    bool running() const { return m_thread.joinable(); }

private:
    std::jthread m_thread;
};

}  // namespace ovsvc
