// A scheduled scan from end to end, with real processes only: ovrtsrv,
// started through the built-in service manager, finds a daily Full System
// Scout job due in the minute its schedule thread starts in, writes "sched"
// and starts the real application through the session launch; the
// application takes the job, scans drive C: (a small folder here, holding
// one file the planted database knows) and writes its report log.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/settings/feedback.h"
#include "app/shell/startup.h"
#include "common/job_file.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "platform/local_time.h"
#include "platform/path.h"
#include "platform/privilege.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/session.h"
#include "platform/text.h"
#include "service/service_sandbox_support.h"
#include "shared/stored_database.h"

namespace svctest {
namespace {

using namespace std::chrono_literals;

constexpr char kService[] = "Orvane Service";
constexpr char kJob[] = "ovjob0.ovj";
constexpr char kFinding[] = "a program the database knows";

std::string utf16le(std::u16string_view text) { return platform::toUtf16LeBytes(text); }

// The application the service started, found by its program file; ended at
// the end of the test whatever happened before.
class StartedApplication {
public:
    explicit StartedApplication(fs::path program)
        : m_image(platform::toWindowsPath(program.string())) {}
    ~StartedApplication() { end(); }
    StartedApplication(const StartedApplication&) = delete;
    StartedApplication& operator=(const StartedApplication&) = delete;

    // The running copies of the program.
    std::vector<uint32_t> running() const {
        std::vector<uint32_t> found;
        for (const platform::ProcessEntry& entry : platform::listProcesses()) {
            if (entry.imagePath == m_image && !platform::processHasEnded(entry.pid))
                found.push_back(entry.pid);
        }
        return found;
    }
    bool find() {
        const std::vector<uint32_t> found = running();
        if (found.size() == 1) m_pid = found.front();
        return m_pid != 0;
    }
    uint32_t pid() const { return m_pid; }

    // Asked to end first, then killed; true when it has ended.
    bool end() {
        if (m_pid == 0) return true;
        if (!platform::processHasEnded(m_pid)) (void)platform::requestProcessExit(m_pid);
        if (!WaitUntil([&] { return platform::processHasEnded(m_pid); }, 10s)) {
            (void)platform::terminateProcess(m_pid, 1);
            WaitUntil([&] { return platform::processHasEnded(m_pid); }, 10s);
        }
        const bool ended = platform::processHasEnded(m_pid);
        m_pid = 0;
        return ended;
    }

private:
    std::u16string m_image;
    uint32_t m_pid = 0;
};

// The program and the libraries beside it, as an installation holds them.
void InstallApplication(const fs::path& bin) {
    for (const auto& entry : fs::directory_iterator(OV_BIN_DIR)) {
        const fs::path name = entry.path().filename();
        if (name != "Orvane" && entry.path().extension() != ".so") continue;
        std::error_code linked;
        fs::create_hard_link(entry.path(), bin / name, linked);
        if (linked) fs::copy_file(entry.path(), bin / name, fs::copy_options::overwrite_existing);
    }
}

// The service as ovrtsrv itself, with the offscreen platform in its
// environment: no logind here, so the session launch hands the service's
// own environment to the application.
fs::path OffscreenService(const fs::path& folder) {
    const fs::path wrapper = folder / "ovrtsrv-offscreen";
    WriteText(wrapper, "#!/bin/sh\nQT_QPA_PLATFORM=offscreen exec '" + std::string(OV_BIN_DIR) +
                           "/ovrtsrv' \"$@\"\n");
    fs::permissions(wrapper, fs::perms::owner_all);
    return wrapper;
}

std::vector<fs::path> LogsNamed(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path());
    }
    return found;
}

TEST(ScheduledScan, TheServiceStartsTheApplicationWhichRunsTheJobsScanAndReportsTheFinding) {
    for (const char16_t* privilege : kStartupPrivileges) {
        if (platform::enablePrivilege(privilege) != 0)
            GTEST_SKIP() << "the service and the application need " << platform::toUtf8(privilege);
    }
    platform::UserSession session;
    if (platform::sessionSource().activeSession(session) == 0 &&
        platform::isGraphicalSession(session)) {
        GTEST_SKIP() << "a graphical session is active: the application would open on its screen";
    }

    ServiceSandbox sandbox;
    const fs::path bin = sandbox.root() / "bin";
    const fs::path logs = sandbox.root() / "logs";
    fs::create_directories(sandbox.root() / "jobs");
    InstallApplication(bin);
    StartedApplication application(bin / "Orvane");

    // Drive C: holds one known file and one that is not.
    const fs::path bad = sandbox.watched() / "target" / "bad.exe";
    WriteText(bad, kFinding);
    WriteText(sandbox.watched() / "target" / "clean.exe", "nothing anyone knows");
    std::string error;
    ASSERT_TRUE(ovtest::writeDatabaseFile(sandbox.root() / "data" / "hashdb.dbf",
                                          ovtest::databaseText({Md5Upper(kFinding)}), error))
        << error;
    // Nothing may wait for a person: the feedback offer counts as shown, and
    // the running service leaves the start-up check nothing to ask.
    {
        platform::RegKey settings;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey,
                                           settings),
                  0u);
        const uint32_t shown = kFeedBackShown;
        ASSERT_EQ(
            settings.setValue(names::kFeedBack, names::kFeedBackValueType, &shown, sizeof shown),
            0u);
    }

    // The schedule thread's first pass, at the service's start, checks the
    // minute it starts in. Late in a minute the start waits for the next
    // one, so the pass cannot fall into the minute after the job's.
    platform::LocalTime now = platform::toLocalTime(std::chrono::system_clock::now());
    if (now.second > 40) {
        std::this_thread::sleep_for(std::chrono::seconds(61 - now.second));
        now = platform::toLocalTime(std::chrono::system_clock::now());
    }
    jobfile::JobFields job;
    job.name = u"Lunch";
    job.type = names::kScanTypeFull;
    job.time = platform::format16(u"%02d:%02d:00", now.hour, now.minute);
    WriteText(sandbox.root() / "jobs" / kJob, jobfile::jobFileBytes(job));

    ASSERT_NO_FATAL_FAILURE(sandbox.startService(OffscreenService(sandbox.dir()).string()));
    const uint32_t servicePid = sandbox.servicePid();
    ASSERT_NE(servicePid, 0u);

    // The service recorded the job and started the application with it.
    ASSERT_TRUE(sandbox.waitForLog("[INFO] StartOVScanner=> Add job to registry\n"))
        << sandbox.log();
    const std::string started = "[INFO] StartOVScanner=> Start OV: \"" +
                                platform::toUtf8(platform::toWindowsPath(bin.string())) +
                                "\\Orvane\" " + kJob + "\n";
    ASSERT_TRUE(sandbox.waitForLog("CreateProcessAsUser result(t/f): 1, code: 0")) << sandbox.log();
    EXPECT_NE(sandbox.log().find(started), std::string::npos) << sandbox.log();
    ASSERT_TRUE(WaitUntil([&] { return application.find(); }, 30s))
        << "the application is not running\n"
        << sandbox.log();

    // Its scan ends with the report's footer.
    std::string report;
    auto finished = [&] { return report.find(" Ended On: ") != std::string::npos; };
    WaitUntil(
        [&] {
            const auto reports = LogsNamed(logs, "Orvane_");
            report = reports.size() == 1 ? ReadText(reports.front()) : std::string();
            return finished() || platform::processHasEnded(application.pid());
        },
        60s);
    ASSERT_TRUE(finished()) << (platform::processHasEnded(application.pid())
                                    ? "the application ended without a finished report log\n"
                                    : "no finished report log\n")
                            << report;
    const auto appLogs = LogsNamed(logs, "OrvaneApp_");
    ASSERT_EQ(appLogs.size(), 1u);
    const std::string appLog = ReadText(appLogs.front());

    // The job's own scan: Full System Scout over C:, chosen without a dialog.
    EXPECT_NE(report.find(" Scan Type: Full System Scout\n\r"), std::string::npos) << report;
    EXPECT_NE(report.find("*** DEBUG *** C:\\\n\r"), std::string::npos) << report;
    // The one finding, as the engine names it (lower case).
    EXPECT_EQ(CountOf(report, " Infected Generic Malware: "), 1u) << report;
    EXPECT_NE(report.find("\n\r Infected Generic Malware: c:\\target\\bad.exe [(null)].\n\r"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("clean.exe"), std::string::npos) << report;
    EXPECT_NE(report.find(" Object Scanned, 1 Infected Object Found.\n\r"), std::string::npos)
        << report;
    for (const char16_t* line :
         {u"Got sched time: 1\n", u"ScanTimerCounterThread=>started\n", u"Send Button Message\n"}) {
        EXPECT_NE(appLog.find(utf16le(line)), std::string::npos) << platform::toUtf8(line);
    }
    // Taken once: "sched" is empty again, and no second copy was started.
    uint32_t type = 0;
    std::string sched(512, '\x7f');
    uint32_t size = static_cast<uint32_t>(sched.size());
    {
        platform::RegKey data;
        ASSERT_EQ(platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, data),
                  0u);
        ASSERT_EQ(data.queryValue(names::kValueSched, &type, sched.data(), &size), 0u);
    }
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(sched.substr(0, size), std::string(128, '\0'));
    EXPECT_EQ(application.running().size(), 1u);
    EXPECT_EQ(CountOf(sandbox.log(), "[INFO] StartOVScanner=> Enter... \n"), 1u);

    // The application ends, then the service stops as asked.
    EXPECT_TRUE(application.end());
    const CommandResult stop = sandbox.ovsc({"stop", kService});
    EXPECT_EQ(stop.status, 0) << stop.out;
    EXPECT_NE(stop.out.find("STATE              : 1  STOPPED"), std::string::npos) << stop.out;
    EXPECT_TRUE(WaitUntil([&] { return platform::processHasEnded(servicePid); }, 30s))
        << "the service process did not end";
    EXPECT_NE(sandbox.log().find("[INFO] main=> Logging finished!\n"), std::string::npos)
        << sandbox.log();
}

}  // namespace
}  // namespace svctest
