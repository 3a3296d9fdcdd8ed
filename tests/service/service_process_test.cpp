// ovrtsrv as a real process: started from a console, installed, started,
// queried, controlled and stopped through ovsc and the built-in service
// manager, and checking the files that appear on the watched drive.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/linux/service_runtime.h"
#include "platform/process.h"
#include "platform/scm.h"
#include "service/service_sandbox_support.h"

namespace svctest {
namespace {

constexpr char kName[] = "Orvane Service";

std::string ovrtsrv() { return std::string(OV_BIN_DIR) + "/ovrtsrv"; }

TEST(ServiceProcess, StartedFromAConsoleLogsTheDispatcherErrorAndAnEventLogEntry) {
    ServiceSandbox sandbox;
    CommandResult run = RunCommand({ovrtsrv()});
    EXPECT_EQ(run.status, 0);
    const std::string log = sandbox.log();
    EXPECT_EQ(log,
              "[INFO] main=> Logging started...\n"
              "[INFO] main=> Service executable started...\n"
              "[INFO] main=>  Map View Of File ok .\n"
              "[INFO] main=>  Shared Memory Ready (16793600 byte).\n"
              "[INFO] main=> StartServiceCtrlDispatcher error 1063...\n"
              "[INFO] main=> Logging finished!\n");
    const std::string events = ReadText(sandbox.eventLogPath());
    EXPECT_NE(events.find("[error] Orvane Service: StartServiceCtrlDispatcher failed with 1063"),
              std::string::npos)
        << events;
}

TEST(ServiceProcess, InstallInAnyCaseRegistersTheService) {
    for (const char* argument : {"INSTALL", "install", "InStAlL"}) {
        ServiceSandbox sandbox;
        CommandResult run = RunCommand({ovrtsrv(), argument});
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(sandbox.log().find("[INFO] SvcInstall=> Service installed successfully\n"),
                  std::string::npos)
            << argument << "\n"
            << sandbox.log();
        CommandResult query = sandbox.ovsc({"query", kName});
        EXPECT_EQ(query.status, 0) << query.out;
        EXPECT_NE(query.out.find("STATE              : 1  STOPPED"), std::string::npos);
        // A second install finds the service there.
        RunCommand({ovrtsrv(), argument});
        EXPECT_NE(sandbox.log().find("[ERROR] SvcInstall=> CreateService failed (1073)\n"),
                  std::string::npos);
    }
}

TEST(ServiceProcess, AMissingPrivilegeStopsStartUpWithTheMappingMessage) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hold the privileges in the first place";
    if (platform::findProgramInPath("setpriv").empty())
        GTEST_SKIP() << "setpriv (util-linux) is not installed";
    ServiceSandbox sandbox;
    // Without CAP_SYS_MODULE the last privilege, SeLoadDriverPrivilege, fails.
    CommandResult run = RunCommand({"setpriv", "--bounding-set=-sys_module",
                                    "--inh-caps=-sys_module", "--", ovrtsrv(), "install"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(sandbox.log(),
              "[INFO] main=> Logging started...\n"
              "[INFO] main=> Service executable started...\n"
              "[INFO] main=> Could not create file mapping object (1300).\n");
    CommandResult query = sandbox.ovsc({"query", kName});
    EXPECT_EQ(query.status, 1);
    EXPECT_NE(query.out.find("1060"), std::string::npos) << query.out;
}

TEST(ServiceProcess, StartQueryStopThroughOvsc) {
    ServiceSandbox sandbox;
    sandbox.startService();
    CommandResult query = sandbox.ovsc({"query", kName});
    EXPECT_EQ(query.status, 0);
    EXPECT_NE(query.out.find("STATE              : 4  RUNNING"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("(STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)"), std::string::npos);
    const uint32_t pid = sandbox.servicePid();
    ASSERT_NE(pid, 0u);

    CommandResult again = sandbox.ovsc({"start", kName});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("FAILED 1056"), std::string::npos) << again.out;

    CommandResult stop = sandbox.ovsc({"stop", kName});
    EXPECT_EQ(stop.status, 0) << stop.out;
    EXPECT_NE(stop.out.find("STATE              : 1  STOPPED"), std::string::npos) << stop.out;
    EXPECT_TRUE(WaitUntil([&] { return platform::detail::processStartTime(pid) == 0; }))
        << "the service process did not end";
    const std::string log = sandbox.log();
    EXPECT_NE(log.find("[INFO] ControlHandler=> ControlHandler call with 1:0\n"
                       "[INFO] ControlHandler=> get STOP event\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[INFO] main=> Logging finished!\n"), std::string::npos) << log;
    // The start-up lines in their order.
    const char* const order[] = {
        "[INFO] SvcMain=> Entering SvcMain function...\n",
        "[INFO] ReportSvcStatus=> Report Status: Current: 2, Exit: 0, Hint: 3000\n",
        "[INFO] SvcInit=>  Started...\n",
        "[INFO] ReportSvcStatus=> Report Status: Current: 4, Exit: 0, Hint: 0\n",
        "[INFO] DoFileChangesWatcherThread=> Started...\n",
        "FlipFile: open file for reading...FlipFile: allocation memory...FlipFile: OK\n",
        "FlipFile:  file OK...\n",
    };
    size_t at = 0;
    for (const char* line : order) {
        size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\n" << log;
        at = found;
    }
    CommandResult stopped = sandbox.ovsc({"stop", kName});
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.out.find("FAILED 1062"), std::string::npos) << stopped.out;
}

TEST(ServiceProcess, AKilledServiceReadsAsStoppedAndStartsAgain) {
    ServiceSandbox sandbox;
    sandbox.startService();
    const uint32_t pid = sandbox.servicePid();
    ASSERT_NE(pid, 0u);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(WaitUntil([&] { return platform::detail::processStartTime(pid) == 0; }));
    CommandResult query = sandbox.ovsc({"query", kName});
    EXPECT_NE(query.out.find("STATE              : 1  STOPPED"), std::string::npos) << query.out;
    CommandResult start = sandbox.ovsc({"start", kName});
    EXPECT_EQ(start.status, 0) << start.out;
    EXPECT_NE(sandbox.servicePid(), 0u);
}

TEST(ServiceProcess, AnUnknownControlIsLoggedAndTheStatusReportedAgain) {
    ServiceSandbox sandbox;
    sandbox.startService();
    platform::ServiceManager manager;
    ASSERT_EQ(platform::ServiceManager::open(platform::kScManagerAllAccess, manager), 0u);
    platform::Service service;
    ASSERT_EQ(
        platform::Service::open(manager, u"Orvane Service", platform::kServiceAllAccess, service),
        0u);
    platform::ServiceStatusProcess status;
    ASSERT_EQ(service.control(200, status), 0u);
    EXPECT_EQ(status.currentState, platform::kServiceRunning);
    EXPECT_EQ(status.controlsAccepted, platform::kServiceAcceptStop);
    EXPECT_EQ(status.processId, sandbox.servicePid());
    EXPECT_TRUE(
        sandbox.waitForLog("[INFO] ControlHandler=> ControlHandler call with 200:0\n"
                           "[INFO] ControlHandler=> Unknown dwControl: 200\n"));
    // Shutdown stops it like stop.
    ASSERT_EQ(service.control(platform::kServiceControlShutdown, status), 0u);
    EXPECT_EQ(status.currentState, platform::kServiceStopped);
    EXPECT_TRUE(sandbox.waitForLog("[INFO] ControlHandler=> get SHUTDOWN event\n"));
}

TEST(ServiceProcess, AKnownBadFileIsFoundRecordedAndAlerted) {
    ServiceSandbox sandbox;
    sandbox.setDebug(true);
    sandbox.startService();
    fs::create_directories(sandbox.watched() / "dir");
    WriteText(sandbox.watched() / "dir" / "a.exe", kEicar);
    ASSERT_TRUE(sandbox.waitForLog("Infected!!!")) << sandbox.log();
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(sandbox.alertPath()); }));
    const std::string log = sandbox.log();
    EXPECT_EQ(CountOf(log, "[DEBUG] Added C:\\dir\\a.exe...OK\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "C:\\dir\\a.exe [" + std::string(kEicarMd5) + "]."), 1u) << log;
    EXPECT_NE(log.find("[INFO]GenerateCryptoMd5Buffer=>  " + std::string(kEicarMd5) +
                       " -> Infected!!!\n"),
              std::string::npos);
    EXPECT_NE(log.find(" Malware Found...show info process\n[INFO] StartOVScanner=> Start OV: "),
              std::string::npos);
    EXPECT_EQ(sandbox.dataRecord(), "1|1|C:\\dir\\a.exe|C:\\dir\\a.exe");
    EXPECT_TRUE(WaitUntil([&] { return ReadText(sandbox.alertPath()) == "C:\\dir\\a.exe\n"; }))
        << ReadText(sandbox.alertPath());
}

TEST(ServiceProcess, ARenameIsLoggedAsRenamedFromAndToWithoutACheck) {
    ServiceSandbox sandbox;
    sandbox.setDebug(true);
    sandbox.startService();
    WriteText(sandbox.watched() / "old.txt", "content");
    ASSERT_TRUE(sandbox.waitForLog("C:\\old.txt [")) << sandbox.log();
    fs::rename(sandbox.watched() / "old.txt", sandbox.watched() / "new.txt");
    ASSERT_TRUE(sandbox.waitForLog("[DEBUG] Renamed To C:\\new.txt...OK\n")) << sandbox.log();
    // A later file shows that everything before it was handled.
    WriteText(sandbox.watched() / "marker.txt", "m");
    ASSERT_TRUE(sandbox.waitForLog("C:\\marker.txt [")) << sandbox.log();
    const std::string log = sandbox.log();
    EXPECT_NE(
        log.find("[DEBUG] Renamed From C:\\old.txt...OK\n[DEBUG] Renamed To C:\\new.txt...OK\n"),
        std::string::npos)
        << log;
    EXPECT_EQ(CountOf(log, "C:\\new.txt ["), 0u) << log;
    // The log line comes before the record, which may also be held for its
    // write interval.
    EXPECT_TRUE(WaitUntil([&] { return sandbox.dataRecord() == "2|0|C:\\marker.txt|"; }))
        << sandbox.dataRecord();
}

TEST(ServiceProcess, AHalfWrittenFileIsCheckedOnceWhenComplete) {
    ServiceSandbox sandbox;
    sandbox.startService();
    const std::string first(300000, 'a');
    const std::string second(300000, 'b');
    {
        std::ofstream out(sandbox.watched() / "download.bin", std::ios::binary);
        out.write(first.data(), static_cast<std::streamsize>(first.size()));
        out.flush();
        // A later file is checked while this one is still open: the queue
        // moved on, yet this one waits for its writer.
        WriteText(sandbox.watched() / "other.txt", "x");
        ASSERT_TRUE(sandbox.waitForLog("C:\\other.txt [")) << sandbox.log();
        EXPECT_EQ(CountOf(sandbox.log(), "C:\\download.bin ["), 0u) << sandbox.log();
        out.write(second.data(), static_cast<std::streamsize>(second.size()));
    }
    ASSERT_TRUE(sandbox.waitForLog("C:\\download.bin [")) << sandbox.log();
    WriteText(sandbox.watched() / "marker.txt", "m");
    ASSERT_TRUE(sandbox.waitForLog("C:\\marker.txt [")) << sandbox.log();
    const std::string log = sandbox.log();
    EXPECT_EQ(CountOf(log, "C:\\download.bin ["), 1u) << log;
    EXPECT_NE(log.find("C:\\download.bin [" + Md5Upper(first + second) + "]."), std::string::npos)
        << log;
}

TEST(ServiceProcess, AFileMovedInFromOutsideTheDriveIsChecked) {
    ServiceSandbox sandbox;
    sandbox.startService();
    WriteText(sandbox.dir() / "outside.part", kEicar);
    fs::rename(sandbox.dir() / "outside.part", sandbox.watched() / "done.exe");
    ASSERT_TRUE(sandbox.waitForLog("C:\\done.exe [" + std::string(kEicarMd5) + "]."))
        << sandbox.log();
    EXPECT_TRUE(WaitUntil([&] { return sandbox.dataRecord() == "1|1|C:\\done.exe|C:\\done.exe"; }))
        << sandbox.dataRecord();
}

TEST(ServiceProcess, ABurstOfFilesIsCheckedWholeWhileOtherProgramsReadTheRecord) {
    ServiceSandbox sandbox;
    sandbox.startService();
    const uint32_t pid = sandbox.servicePid();
    ASSERT_NE(pid, 0u);
    const uint64_t started = platform::detail::processStartTime(pid);
    // The application's monitor and the command-line tools read the "data"
    // record meanwhile, each a program of its own that opens the registry
    // afresh: the service's hold on the registry file must survive them.
    std::atomic<bool> burstDone{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!burstDone) {
            RunCommand({std::string(OV_BIN_DIR) + "/ovreg", "query",
                        "HKLM\\SOFTWARE\\Orvane\\Wardline\\data", "/v", "data"});
            ++reads;
        }
    });
    constexpr int kFiles = 2500;  // well past the queue's 1000 entries
    fs::create_directories(sandbox.watched() / "burst");
    for (int i = 0; i < kFiles; ++i)
        WriteText(sandbox.watched() / "burst" / ("f" + std::to_string(i)), std::to_string(i));
    const std::string expected = std::to_string(kFiles) + "|0|";
    const bool whole = WaitUntil(
        [&] {
            return sandbox.dataRecord().rfind(expected, 0) == 0 ||
                   platform::detail::processStartTime(pid) != started;
        },
        std::chrono::seconds(240));
    burstDone = true;
    reader.join();
    EXPECT_EQ(platform::detail::processStartTime(pid), started)
        << "the service ended during the burst, after " << reads << " reads by other programs";
    EXPECT_TRUE(whole && sandbox.dataRecord().rfind(expected, 0) == 0) << sandbox.dataRecord();
    EXPECT_GT(reads.load(), 0);
    // The burst filled the queue; that loses nothing and is not critical.
    EXPECT_EQ(CountOf(sandbox.log(), "[CRITICAL]"), 0u);
}

// The lines of a burst's checks, held while the service works through its
// queue, are all in the file once the queue has run dry, each file's lines
// whole and together, read by this other process.
TEST(ServiceProcess, TheLogOfABurstIsCompleteOnceTheQueueRanDry) {
    ServiceSandbox sandbox;
    sandbox.setDebug(true);
    fs::create_directories(sandbox.watched() / "burst");
    sandbox.startService();
    constexpr int kFiles = 1500;
    for (int i = 0; i < kFiles; ++i)
        WriteText(sandbox.watched() / "burst" / ("f" + std::to_string(i)), std::to_string(i));
    const std::string expected = std::to_string(kFiles) + "|0|";
    ASSERT_TRUE(WaitUntil([&] { return sandbox.dataRecord().rfind(expected, 0) == 0; },
                          std::chrono::seconds(240)))
        << sandbox.dataRecord();
    // Nothing is logged after the last check but the schedule thread's line
    // at the next minute: until then only the flush of the dry queue can
    // have brought the burst's last lines to the file.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return CountOf(sandbox.log(), "[INFO] GenerateCryptoMd5Buffer=> end\n") >=
                   size_t(kFiles);
        },
        std::chrono::seconds(10)))
        << CountOf(sandbox.log(), "[INFO] GenerateCryptoMd5Buffer=> end\n") << " of " << kFiles;
    // The service thread's lines after the hash list was ready; the schedule
    // thread's own lines may fall anywhere between them.
    std::string log;
    {
        const std::string whole = sandbox.log();
        static const std::string kReady = "FlipFile:  file OK...\n";
        size_t line = whole.find(kReady);
        ASSERT_NE(line, std::string::npos) << whole;
        for (line += kReady.size(); line < whole.size();) {
            const size_t end = std::min(whole.find('\n', line), whole.size() - 1) + 1;
            const std::string text = whole.substr(line, end - line);
            if (text.find("SchedProc=>") == std::string::npos &&
                text.find("DoSchedualWatcherThread=>") == std::string::npos)
                log += text;
            line = end;
        }
    }
    static const std::string kAdded = "[DEBUG] Added C:\\burst\\f";
    std::vector<bool> seen(kFiles, false);
    size_t at = 0;
    while (at < log.size()) {
        if (log.compare(at, kAdded.size(), kAdded) == 0) {
            const size_t digits = at + kAdded.size();
            const int i = std::atoi(log.c_str() + digits);
            ASSERT_TRUE(i >= 0 && i < kFiles && !seen[i]) << log.substr(at, 200);
            seen[i] = true;
            const std::string path = "C:\\burst\\f" + std::to_string(i);
            const std::string block = "[DEBUG] Added " + path + "...OK\nScanning File: " + path +
                                      "\n[INFO] GenerateCryptoMd5Buffer=> start...\n" + path +
                                      " [" + Md5Upper(std::to_string(i)) +
                                      "].UpdateMemoryData start.\nCopy start\nCopy END\n"
                                      "UpdateMemoryData end.\n"
                                      "[INFO] GenerateCryptoMd5Buffer=> end\n";
            ASSERT_EQ(log.compare(at, block.size(), block), 0) << log.substr(at, block.size());
            at += block.size();
        } else {
            // Changes that bring no check (the writes before a file's close).
            ASSERT_EQ(log.compare(at, 8, "[DEBUG] "), 0) << log.substr(at, 200);
            const size_t end = log.find("...OK\n", at);
            ASSERT_NE(end, std::string::npos) << log.substr(at, 200);
            ASSERT_EQ(log.find('\n', at), end + 5) << log.substr(at, 200);
            at = end + 6;
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kFiles);
}

}  // namespace
}  // namespace svctest
