// The live system panel of the main dialog: processes, modules, memory and
// network figures refreshed every 2 seconds by the counter thread, the two
// device watchers (for CatchExt and Monitoring), and the start-up entry
// brought in line with the Startup flag at exit.
//
// The scanner never touches a widget. Each figure it takes is handed to the
// sink as (control id, text) pairs on the thread that took it; the desktop
// application's sink posts them to the main dialog's thread, and the latest
// text of every control stays readable in the model (figures()).
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

inline constexpr char16_t kMonitorInactive[] = u"Inactive";
inline constexpr char16_t kMonitorActive[] = u"Active";
inline constexpr char16_t kRunKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char16_t kRunValueName[] = u"Orvane";
// The updater in the program folder (the current directory).
inline constexpr char16_t kUpdaterProgramName[] = u"\\ovUpdate";

// Panel controls.
namespace panel {
inline constexpr int32_t kProcesses = 1001;
inline constexpr int32_t kModules = 1007;
inline constexpr int32_t kMemoryFree = 1063;
inline constexpr int32_t kMemoryTotal = 1065;
inline constexpr int32_t kTcp = 1059;
inline constexpr int32_t kUdp = 1061;
inline constexpr int32_t kRegistryMonitor = 1055;
inline constexpr int32_t kDeviceMonitor = 1057;
}  // namespace panel

using PanelUpdate = std::pair<int32_t, std::u16string>;
using PanelSink = std::function<void(const std::vector<PanelUpdate>& updates)>;

// A device watcher thread (the new-drive watch of the scan control).
class DeviceWatcher {
public:
    virtual ~DeviceWatcher() = default;  // stops and joins
    virtual bool start() = 0;            // false when the thread cannot be started
    virtual bool running() const = 0;    // false once the thread has ended
};
using DeviceWatcherFactory = std::function<std::unique_ptr<DeviceWatcher>()>;

// What the scanner reads and starts; every member has a live default.
struct ProcessScannerSources {
    std::string procRoot = "/proc";  // the process list
    std::string systemRoot = "/";    // /proc/meminfo and /proc/net below it
    std::chrono::milliseconds interval{2000};
    // Without a factory no watcher can be started: the monitors stay
    // "Inactive".
    DeviceWatcherFactory makeDeviceWatcher;
    // The scheduled-start poll and the news line, started once each by the
    // first InitProcessScanner; false when the thread cannot be started.
    std::function<bool()> startScheduledStart;
    std::function<bool()> startWebNews;
    // How long ExitProcessScanner waits for the counter thread to end.
    std::chrono::milliseconds stopLimit{5000};
};

class ProcessScanner {
public:
    ProcessScanner(ProcessScannerSources sources, PanelSink sink);
    ~ProcessScanner();  // Exit() without the start-up entry
    ProcessScanner(const ProcessScanner&) = delete;
    ProcessScanner& operator=(const ProcessScanner&) = delete;

    // InitProcessScanner: resets the panel and the scan figures, starts the
    // counter thread, the companion threads and the watchers that are due
    // and not yet started.
    void InitProcessScanner();

    // Steps of the counter thread; each publishes what it read and leaves
    // the panel as it was when reading fails.
    void ProcessCounter();
    void GetMemoryInfo();
    void GetNetInfo();
    void RestartDeviceMonitor();

    // The scan control pauses the counter thread while a scan runs.
    void SuspendProcessCounter();
    void ResumeProcessCounter();
    bool counterSuspended() const;
    bool counterRunning() const;
    // Passes the counter thread has finished (for tests that wait for one).
    uint64_t counterPasses() const;
    // Blocks until at least `passes` passes are done or the limit passes.
    bool waitForPasses(uint64_t passes, std::chrono::milliseconds limit) const;

    // Stops the counter thread and the watchers cooperatively and joins
    // them; the sink gets nothing afterwards. true when every thread ended
    // within the limit.
    bool StopThreads();

    // The latest text of a control; empty when never set.
    std::u16string figure(int32_t id) const;
    bool catchExtWatcherRunning() const;
    bool monitoringWatcherRunning() const;
    uint32_t monitoringWatcherStarts() const { return m_monitoringStarts; }

private:
    void publish(std::vector<PanelUpdate> updates);
    void counterLoop();
    bool startWatcher(std::unique_ptr<DeviceWatcher>& slot);

    ProcessScannerSources m_sources;
    mutable std::mutex m_sinkLock;
    PanelSink m_sink;
    mutable std::mutex m_modelLock;
    std::map<int32_t, std::u16string> m_model;

    mutable std::mutex m_threadLock;
    mutable std::condition_variable m_wake;
    std::thread m_counter;
    bool m_stop = false;
    bool m_suspended = false;
    bool m_counterEnded = false;
    uint64_t m_passes = 0;
    bool m_scheduledStarted = false;
    bool m_newsStarted = false;

    mutable std::mutex m_watcherLock;
    std::unique_ptr<DeviceWatcher> m_catchExtWatcher;
    std::unique_ptr<DeviceWatcher> m_monitoringWatcher;
    uint32_t m_monitoringStarts = 0;
};

// Brings the Run value "Orvane" in line with the Startup flag: 1 writes the
// program folder's updater (REG_SZ), anything else deletes the value. The
// platform reflects the value into an autostart entry. 0, or the registry
// error when the Run key cannot be had.
uint32_t UpdateStartupEntry();
