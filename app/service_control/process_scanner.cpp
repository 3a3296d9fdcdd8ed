#include "app/service_control/process_scanner.h"

#include <functional>

#include "app/shell/app_log.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/fs.h"
#include "platform/netstat.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr size_t kCurrentDirectoryUnits = 260;
constexpr size_t kCommandUnits = 512;

std::u16string number(int64_t value) { return platform::ascii16(std::to_string(value)); }

uint32_t readFlag(const char16_t* name) {
    uint32_t value = 0;
    uint32_t size = sizeof(value);
    if (GetRegValue(names::kSettingsKey, name, &value, &size) != 0) return 0;
    return value;
}

}  // namespace

ProcessScanner::ProcessScanner(ProcessScannerSources sources, PanelSink sink)
    : m_sources(std::move(sources)), m_sink(std::move(sink)) {}

ProcessScanner::~ProcessScanner() { StopThreads(); }

void ProcessScanner::publish(std::vector<PanelUpdate> updates) {
    {
        std::lock_guard<std::mutex> guard(m_modelLock);
        for (const auto& [id, text] : updates) m_model[id] = text;
    }
    // Under the lock, so that once StopThreads has taken the sink away no
    // figure reaches a window that may be gone.
    std::lock_guard<std::mutex> guard(m_sinkLock);
    if (m_sink) m_sink(updates);
}

std::u16string ProcessScanner::figure(int32_t id) const {
    std::lock_guard<std::mutex> guard(m_modelLock);
    auto it = m_model.find(id);
    return it == m_model.end() ? std::u16string() : it->second;
}

void ProcessScanner::InitProcessScanner() {
    LogEntry(u"InitProcessScanner");
    publish({{panel::kModules, u"0"}, {1015, u"0"}, {1019, u"0"}, {1051, u"0"}});
    // A watcher that already runs is shown as such: the panel is reset after
    // every scan, and the watchers go on through it.
    publish(
        {{panel::kRegistryMonitor, monitoringWatcherRunning() ? kMonitorActive : kMonitorInactive},
         {panel::kDeviceMonitor, catchExtWatcherRunning() ? kMonitorActive : kMonitorInactive}});
    LogEntry(u"CheckNeededFiles");
    publish({{1021, u""}, {1053, u""}});

    {
        std::lock_guard<std::mutex> guard(m_threadLock);
        if (!m_counter.joinable()) {
            m_stop = false;
            m_counterEnded = false;
            try {
                m_counter = std::thread([this] { counterLoop(); });
            } catch (const std::system_error&) {
                gAppLog.Write(u"InitProcessScanner: the counter thread cannot be started");
                return;
            }
        }
    }
    if (!m_scheduledStarted && m_sources.startScheduledStart) {
        if (!m_sources.startScheduledStart()) return;
        m_scheduledStarted = true;
    }
    if (!m_newsStarted && m_sources.startWebNews) {
        if (!m_sources.startWebNews()) return;
        m_newsStarted = true;
    }
    {
        std::lock_guard<std::mutex> guard(m_watcherLock);
        if (readFlag(names::kCatchExt) == 1 && !m_catchExtWatcher) {
            if (!startWatcher(m_catchExtWatcher)) return;
            publish({{panel::kDeviceMonitor, kMonitorActive}});
        }
        if (readFlag(names::kMonitoring) == 1 && !m_monitoringWatcher) {
            if (!startWatcher(m_monitoringWatcher)) return;
            ++m_monitoringStarts;
            publish({{panel::kRegistryMonitor, kMonitorActive}});
        }
    }
    publish({{1015, u"0"}, {1049, u""}, {1048, u""}, {1062, u"00:00:00"}});
}

bool ProcessScanner::startWatcher(std::unique_ptr<DeviceWatcher>& slot) {
    if (!m_sources.makeDeviceWatcher) return false;
    std::unique_ptr<DeviceWatcher> watcher = m_sources.makeDeviceWatcher();
    if (!watcher || !watcher->start()) {
        gAppLog.Write(u"InitProcessScanner: a device watcher cannot be started");
        return false;
    }
    slot = std::move(watcher);
    return true;
}

void ProcessScanner::ProcessCounter() {
    LogEntry(u"ProcessCounter");
    platform::ProcessModuleCount count;
    if (!platform::countProcessesAndModules(count, m_sources.procRoot)) return;
    const int64_t modules = count.modules > 0x7FFFFFFF ? 0x7FFFFFFF : int64_t(count.modules);
    publish({{panel::kProcesses, number(count.processes)}, {panel::kModules, number(modules)}});
}

void ProcessScanner::GetMemoryInfo() {
    LogEntry(u"GetMemoryInfo");
    platform::PhysicalMemory memory;
    if (platform::physicalMemory(memory, m_sources.systemRoot) != 0) return;
    publish({{panel::kMemoryFree, number(100 - int64_t(memory.memoryLoad))},
             {panel::kMemoryTotal, number(int64_t(memory.totalBytes >> 20))}});
}

void ProcessScanner::GetNetInfo() {
    LogEntry(u"GetNetInfo");
    std::vector<PanelUpdate> updates;
    // IPv4 first, then IPv6, so the IPv6 figure is shown when it can be read.
    for (bool ipv6 : {false, true}) {
        platform::TcpStatistics tcp;
        if (platform::tcpStatistics(ipv6, tcp, m_sources.systemRoot) == 0) {
            updates.emplace_back(panel::kTcp, number(tcp.activeOpens));
        }
    }
    for (bool ipv6 : {false, true}) {
        uint32_t entries = 0;
        if (platform::udpListenerCount(ipv6, entries, m_sources.systemRoot) == 0) {
            updates.emplace_back(panel::kUdp, number(entries));
        }
    }
    if (!updates.empty()) publish(std::move(updates));
}

void ProcessScanner::RestartDeviceMonitor() {
    if (readFlag(names::kMonitoring) != 1) return;
    std::lock_guard<std::mutex> guard(m_watcherLock);
    if (m_monitoringWatcher && m_monitoringWatcher->running()) return;
    std::unique_ptr<DeviceWatcher> previous = std::move(m_monitoringWatcher);
    previous.reset();  // an ended watcher is joined before the next starts
    if (!startWatcher(m_monitoringWatcher)) return;
    ++m_monitoringStarts;
    publish({{panel::kRegistryMonitor, kMonitorActive}});
}

void ProcessScanner::counterLoop() {
    gAppLog.Write(u"Thread Started: ProcessCounterThread ID: %08x",
                  static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
    std::unique_lock<std::mutex> lock(m_threadLock);
    while (!m_stop) {
        if (m_suspended) {
            m_wake.wait(lock, [this] { return m_stop || !m_suspended; });
            continue;
        }
        lock.unlock();
        ProcessCounter();
        GetMemoryInfo();
        GetNetInfo();
        RestartDeviceMonitor();
        lock.lock();
        ++m_passes;
        m_wake.notify_all();
        m_wake.wait_for(lock, m_sources.interval, [this] { return m_stop; });
    }
    m_counterEnded = true;
    m_wake.notify_all();
}

void ProcessScanner::SuspendProcessCounter() {
    std::lock_guard<std::mutex> guard(m_threadLock);
    m_suspended = true;
}

void ProcessScanner::ResumeProcessCounter() {
    std::lock_guard<std::mutex> guard(m_threadLock);
    m_suspended = false;
    m_wake.notify_all();
}

bool ProcessScanner::counterSuspended() const {
    std::lock_guard<std::mutex> guard(m_threadLock);
    return m_suspended;
}

bool ProcessScanner::counterRunning() const {
    std::lock_guard<std::mutex> guard(m_threadLock);
    return m_counter.joinable() && !m_counterEnded;
}

uint64_t ProcessScanner::counterPasses() const {
    std::lock_guard<std::mutex> guard(m_threadLock);
    return m_passes;
}

bool ProcessScanner::waitForPasses(uint64_t passes, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(m_threadLock);
    return m_wake.wait_for(lock, limit, [&] { return m_passes >= passes || m_counterEnded; }) &&
           m_passes >= passes;
}

bool ProcessScanner::catchExtWatcherRunning() const {
    std::lock_guard<std::mutex> guard(m_watcherLock);
    return m_catchExtWatcher && m_catchExtWatcher->running();
}

bool ProcessScanner::monitoringWatcherRunning() const {
    std::lock_guard<std::mutex> guard(m_watcherLock);
    return m_monitoringWatcher && m_monitoringWatcher->running();
}

bool ProcessScanner::StopThreads() {
    {
        std::lock_guard<std::mutex> guard(m_sinkLock);
        m_sink = nullptr;
    }
    bool ended = true;
    {
        std::unique_lock<std::mutex> lock(m_threadLock);
        m_stop = true;
        m_wake.notify_all();
        if (m_counter.joinable()) {
            // One pass reads a few kernel files per process and ends well
            // within the limit. A pass that does not is still joined (it
            // uses this object), after the delay is logged.
            ended = m_wake.wait_for(lock, m_sources.stopLimit, [this] { return m_counterEnded; });
            lock.unlock();
            if (!ended) {
                gAppLog.Write(u"ExitProcessScanner: the counter thread did not end in time");
            }
            m_counter.join();
        }
    }
    std::lock_guard<std::mutex> guard(m_watcherLock);
    m_catchExtWatcher.reset();
    m_monitoringWatcher.reset();
    return ended;
}

uint32_t UpdateStartupEntry() {
    // The Run key always stands on Windows; here it is made when missing.
    platform::RegKey key;
    uint32_t rc = platform::RegKey::create(platform::RegRoot::LocalMachine, kRunKey, key);
    if (rc != 0) return rc;
    std::u16string command = platform::currentDirectory();
    if (command.size() > kCurrentDirectoryUnits - 1) command.resize(kCurrentDirectoryUnits - 1);
    command += kUpdaterProgramName;
    if (command.size() > kCommandUnits - 1) command.resize(kCommandUnits - 1);
    if (readFlag(names::kStartup) == 1) {
        rc = key.setValue(kRunValueName, platform::kRegSz, command.c_str(),
                          static_cast<uint32_t>((command.size() + 1) * sizeof(char16_t)));
    } else {
        rc = key.deleteValue(kRunValueName);
        if (rc == 2) rc = 0;
    }
    key.close();
    return rc;
}
