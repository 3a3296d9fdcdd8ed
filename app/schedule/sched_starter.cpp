#include "app/schedule/sched_starter.h"

#include "app/schedule/jobs_folder.h"
#include "app/shell/app_log.h"
#include "app/shell/startup.h"
#include "common/job_file.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/thread_id.h"

namespace {

constexpr uint32_t kSchedBytes = 512;
constexpr uint32_t kClearedBytes = 128;

}  // namespace

SchedStarter::SchedStarter(ScheduledStartHost& host, std::u16string jobsFolder)
    : m_host(host), m_jobsFolder(std::move(jobsFolder)) {}

std::u16string SchedStarter::keptJobName() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_kept;
}

int32_t SchedStarter::CheckIfSchedTime() {
    LogEntry(u"CheckIfSchedTime");
    const bool debug = ScheduleDebugEnabled();
    if (debug) LogScheduleDebug(u"CheckIfSchedTime=>sched 1");

    char16_t buffer[kSchedBytes / 2 + 1] = {};
    uint32_t size = kSchedBytes;
    (void)GetRegValue(names::kDataKey, names::kValueSched, buffer, &size);
    const std::u16string value(buffer);

    std::unique_lock<std::mutex> guard(m_lock);
    if (value != m_uncleared) m_uncleared.clear();
    // Only a job file's plain name is a job: never a path out of the jobs
    // folder, and not a name this instance took already but could not clear.
    const bool job = value.find(u".ovj") != std::u16string::npos &&
                     value.find_first_of(u"\\/") == std::u16string::npos && m_uncleared.empty();
    if (!job) {
        guard.unlock();
        gAppLog.Write(u"CheckIfSchedTime=>sched END FALSE");
        if (m_host.scheduledStartFlag() != 0) m_host.setScheduledStartFlag(0);
        return 0;
    }
    m_host.setScheduledStartFlag(1);
    platform::RegKey data;
    bool cleared = false;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, data) == 0) {
        if (debug) LogScheduleDebug(u"CheckIfSchedTime=>sched 2");
        const char zeros[kClearedBytes] = {};
        cleared =
            data.setValue(names::kValueSched, platform::kRegExpandSz, zeros, kClearedBytes) == 0;
        data.close();
    }
    if (!cleared) m_uncleared = value;
    if (debug) LogScheduleDebug(u"CheckIfSchedTime=>sched END TRUE");
    m_kept = value.substr(0, 259);
    return 1;
}

int32_t SchedStarter::PrepareScheduledJob() {
    gAppLog.Write(u"ScanTimerCounterThread=>started");
    const std::u16string kept = keptJobName();
    std::u16string path = m_jobsFolder + u"\\" + kept;
    if (path.size() > 8191) path.resize(8191);
    const bool debug = ScheduleDebugEnabled();
    if (debug) LogScheduleDebug(u"Working Job File: %s", path.c_str());

    std::u16string text;
    const uint32_t status = jobfile::readJobFile(path, text);
    int32_t read = 0;
    if (status != platform::kErrorSuccess) {
        gAppLog.Write(u"ScanTimerCounterThread=> FILE: %s [%d]", kept.c_str(), int(status));
    } else {
        const std::u16string type(jobfile::jobValue(text, u"Type").value_or(u""));
        const int32_t number = jobfile::leadingNumber(type);
        const int32_t scanType =
            number == names::kScanTypeFull ? names::kScanTypeFull : names::kScanTypeThreat;
        m_host.setScheduledScanType(scanType);
        if (debug) {
            LogScheduleDebug(
                u"ScanTimerCounterThread=> Scan Type Options: FULL: %d || CUSTOM: %d || QUICK: %d",
                names::kScanTypeFull, names::kScanTypeCustom, names::kScanTypeThreat);
            LogScheduleDebug(u"ScanTimerCounterThread=> Scan Type: STR: %s || NUM: %d || PARAM: %d",
                             type.c_str(), number, scanType);
        }
        read = 1;
    }
    if (debug) {
        LogScheduleDebug(u"ScanTimerCounterThread=>continue...");
        LogScheduleDebug(u"ScanTimerCounterThread=> Information: TYPE: %d || Sched: %d",
                         m_host.scheduledScanType(), m_host.scheduledStartFlag());
    }
    gAppLog.Write(u"ScanTimerCounterThread=>ended");
    return read;
}

void SchedStarter::PollOnce() {
    // One round at a time: a second caller sees the flag the first one set.
    std::lock_guard<std::mutex> round(m_pollLock);
    if (m_host.scheduledStartFlag() != 0 || m_host.scanningFlag() != 0) return;
    const bool debug = ScheduleDebugEnabled();
    if (debug) gAppLog.Write(u"SchedStarterThread Thread: CheckIfSchedTime 1");
    if (CheckIfSchedTime() == 1) {
        if (debug) {
            gAppLog.Write(u"##### SchedStarterThread Thread: gHWND: %08x",
                          m_host.mainWindowHandle());
        }
        m_host.armScheduledStartTimer(kTimerPeriodMs);
    }
    if (debug) gAppLog.Write(u"SchedStarterThread Thread: CheckIfSchedTime 2");
}

void SchedStarter::SchedStarterThread(const std::stop_token& stop) {
    gAppLog.Write(u"Thread Started: SchedStarterThread ID: %08x", platform::currentThreadId());
    while (!stop.stop_requested()) {
        PollOnce();
        std::unique_lock<std::mutex> guard(m_lock);
        m_wake.wait_for(guard, stop, std::chrono::milliseconds(kPollPeriodMs),
                        [] { return false; });
    }
}

void SchedStarter::Start() {
    if (m_thread.joinable()) return;
    m_thread = std::jthread([this](std::stop_token stop) { SchedStarterThread(stop); });
}

void SchedStarter::Stop() {
    if (!m_thread.joinable()) return;
    m_thread.request_stop();
    m_thread.join();
}
