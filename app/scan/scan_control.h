// One scan at a time from the desktop application: the manager thread
// (DoStartOVScanningMngrThreadFunc) and the scan worker
// (DoStartOVScanningThreadFunc) that loads the engine library from the
// program folder, fills the scan request for the chosen scan type and calls
// fnStartOVScan; the stop through fnStopOV; the poll that tells the user
// interface when both threads have ended. The engine's messages go to a
// thread-safe window whose receiver is the ScanProgress: the scan never
// waits for the user interface, and the user interface never waits for the
// scan threads.
//
// Every member is called on the user-interface thread unless it says
// otherwise; the target dialogs are shown on that thread through the
// UiCaller while the worker waits.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/scan/scan_progress.h"
#include "app/scan/ui_caller.h"
#include "engine/scan_request.h"
#include "platform/message.h"

enum class ScanKind { None, Threat, Full, Custom };

enum class ScanPhase {
    Idle,      // no scan; a start is possible
    Running,   // the threads run: target dialogs, engine setup, scanning
    Stopping,  // a stop was confirmed; the threads wind down
};

// The poll's intervals and the manager's wait after the worker. Tests may
// shorten them; the application keeps these.
struct ScanTimings {
    std::chrono::milliseconds firstPoll{2000};
    std::chrono::milliseconds whileWorkerRuns{5000};
    std::chrono::milliseconds whileManagerRuns{2000};
    std::chrono::milliseconds managerGrace{1000};
};

// The target dialogs, run on the user-interface thread. Each returns the
// dialog's result (1 when the user pressed start).
struct ScanTargetDialogs {
    std::function<int32_t(std::u16string& driveList)> fullScan;
    std::function<int32_t(std::u16string& file, std::u16string& folder)> customScan;
};

// The poll step: how long until the next look, or zero when both threads
// have ended and the scan can be finished.
std::chrono::milliseconds NextScanPoll(bool workerRunning, bool managerRunning,
                                       const ScanTimings& timings);

class ScanControl {
public:
    using Log = std::function<void(const std::u16string& line)>;

    ScanControl(ScanProgress& progress, UiCaller& ui, ScanTargetDialogs dialogs, Log log);
    // Stops a running scan and joins its threads (after the UiCaller was
    // cancelled by the owner, so no worker waits for a dialog).
    ~ScanControl();
    ScanControl(const ScanControl&) = delete;
    ScanControl& operator=(const ScanControl&) = delete;

    // Where libov_core.so is loaded from; the program folder by default.
    void setEngineFolder(std::string hostFolder) { m_engineFolder = std::move(hostFolder); }
    const std::string& engineFolder() const { return m_engineFolder; }
    void setTimings(const ScanTimings& timings) { m_timings = timings; }
    const ScanTimings& timings() const { return m_timings; }

    // Starts the manager thread for a scan of this kind; scheduled makes a
    // full scan take C:\ without asking. False when the thread cannot be
    // started or a scan is still under way (Idle is required).
    bool start(ScanKind kind, bool scheduled);

    // The confirmed stop: loads the engine and calls fnStopOV. Until the
    // engine's scan thread has taken the stop, poll() asks again, so a stop
    // given while the engine still sets up is not lost. Moves to Stopping.
    void requestStop();

    // One look at the threads (the poll timer's tick): the next interval,
    // or zero when both have ended. While stopping it repeats a stop the
    // engine has not taken yet.
    std::chrono::milliseconds poll();
    // Asks the engine again for a confirmed stop it has not taken yet.
    void repeatPendingStop();

    // After the finish was handled: joins the ended threads, back to Idle.
    void finished();

    ScanPhase phase() const { return m_phase; }
    bool workerRunning() const { return m_workerRunning; }
    bool managerRunning() const { return m_managerRunning; }
    platform::WindowHandle window() const { return m_window; }
    // The request of the running (or last) scan, as handed to the engine.
    const ScanRequest& request() const { return m_request; }

private:
    void managerMain();
    void workerMain();
    void runScan(FnStartOVScan start);
    std::string enginePath() const;
    int32_t callStop();

    ScanProgress& m_progress;
    UiCaller& m_ui;
    ScanTargetDialogs m_dialogs;
    Log m_log;
    std::string m_engineFolder;
    ScanTimings m_timings;

    platform::WindowHandle m_window = 0;
    ScanRequest m_request{};
    ScanKind m_kind = ScanKind::None;
    bool m_scheduled = false;

    std::atomic<ScanPhase> m_phase{ScanPhase::Idle};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_stopTaken{false};
    std::atomic<bool> m_managerRunning{false};
    std::atomic<bool> m_workerRunning{false};
    std::thread m_manager;
};
