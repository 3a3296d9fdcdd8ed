#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_test_support.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

using enginetest::Install;
using enginetest::Recorder;

namespace {

bool IsRoot() { return geteuid() == 0; }

// A custom scan of one file, run the way the application runs it.
struct CustomScan {
    ScanRequest request{};
    CustomScan(const Recorder& recorder, const std::u16string& file) {
        request.hwndNotify = recorder.window();
        request.scanType = 1036;
        platform::copy16(request.customFile, 512, file);
    }
};

std::vector<std::u16string> Findings(const Recorder& recorder) {
    return recorder.texts(SCANMSG_REPORT_LINE);
}

}  // namespace

TEST(ScanRun, StopPauseAndResumeWhileIdleChangeNothing) {
    SetRunFlag(1);
    EXPECT_EQ(StopOV(), 0);
    EXPECT_EQ(RunFlag(), 1);
    EXPECT_EQ(PauseOV(), 0);
    EXPECT_EQ(ResumeOV(), 0);
    SetRunFlag(0);
    EXPECT_EQ(StopOV(), 0);
    EXPECT_EQ(RunFlag(), 0);
}

TEST(ScanRun, AMissingDatabaseEndsTheRunAndTheNextRunWorks) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    Install install;
    const std::string content = "known bad content";
    std::u16string file = install.writeFile("target.bin", content);
    {
        Recorder recorder;
        CustomScan scan(recorder, file);
        EXPECT_EQ(StartOVScan(&scan.request), 0);
        EXPECT_TRUE(recorder.contains(SCANMSG_SCAN_STARTED, u"Custom System Scout started..."));
        EXPECT_TRUE(recorder.contains(SCANMSG_STATUS, u"unable to load db file!"));
        EXPECT_FALSE(recorder.contains(SCANMSG_STATUS, u"Scan thread started"));
        EXPECT_EQ(recorder.count(SCANMSG_SCAN_ENDED), 0u);
        EXPECT_EQ(CurrentRequest(), nullptr);
    }
    install.writeDatabase(enginetest::Md5Upper(content) + "\r\n");
    Recorder recorder;
    CustomScan scan(recorder, file);
    EXPECT_EQ(StartOVScan(&scan.request), 0);  // 0: the install path was read
    EXPECT_TRUE(recorder.contains(SCANMSG_STATUS, u"Scan thread started"));
    EXPECT_TRUE(recorder.contains(SCANMSG_SCAN_TYPE, u"Custom Scout Scan..."));
    EXPECT_EQ(
        Findings(recorder),
        (std::vector<std::u16string>{u" Infected Generic Malware: " + platform::toLower(file) +
                                     u" [(null)]."}));  // the custom file goes on lower-cased
    EXPECT_TRUE(recorder.contains(SCANMSG_SCAN_ENDED, u"scan ended"));
    // "scan ended" is the last thing the run sends.
    EXPECT_EQ(recorder.messages().back().text, u"SendOVMsg Step 4");
    EXPECT_EQ(CurrentRequest(), nullptr);
}

// A database file that opens but fails part way through its reading ends
// the run as a missing one does, never as a shorter database; once it reads
// whole, the same file finds the file it lists.
TEST(ScanRun, ADatabaseReadErrorEndsTheRun) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    Install install;
    const std::string content = "known bad content";
    install.writeDatabase(enginetest::Md5Upper(content) + "\r\n" + std::string(32, 'A') + "\r\n");
    std::u16string file = install.writeFile("target.bin", content);
    {
        // The first read gets the first entry, the next one fails as a
        // failing disk does (EIO comes back as 1).
        int reads = 0;
        SetDatabaseReader([&](const platform::File& db, uint64_t offset, void* buffer,
                              uint32_t size, uint32_t& got) {
            if (reads++ > 0) return platform::kErrorInvalidFunction;
            return db.readAt(offset, buffer, std::min<uint32_t>(size, 40), got);
        });
        Recorder recorder;
        CustomScan scan(recorder, file);
        StartOVScan(&scan.request);
        ResetDatabaseReader();
        EXPECT_EQ(reads, 2);
        EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData: Read File Error 1"));
        EXPECT_FALSE(recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData: Load File Ok"));
        EXPECT_TRUE(recorder.contains(SCANMSG_STATUS, u"unable to load db file!"));
        EXPECT_FALSE(recorder.contains(SCANMSG_STATUS, u"Scan thread started"));
        EXPECT_TRUE(Findings(recorder).empty());
        EXPECT_EQ(recorder.count(SCANMSG_SCAN_ENDED), 0u);
        EXPECT_EQ(CurrentRequest(), nullptr);
    }
    Recorder recorder;
    CustomScan scan(recorder, file);
    StartOVScan(&scan.request);
    EXPECT_EQ(Findings(recorder).size(), 1u);
    EXPECT_TRUE(recorder.contains(SCANMSG_SCAN_ENDED, u"scan ended"));
}

TEST(ScanRun, AnyTypeButFullAndCustomRunsTheThreatScan) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    Install install;
    install.writeDatabase("");
    const std::pair<int32_t, std::u16string> cases[] = {
        {1034, u"Threat Scout..."},      {0, u"Threat Scout..."},         {-1, u"Threat Scout..."},
        {1035, u"Full System Scout..."}, {1036, u"Custom Scout Scan..."},
    };
    for (const auto& [type, text] : cases) {
        Recorder recorder;
        // Only the choice of routine matters here: stop as soon as it is named.
        recorder.onMessage([](uint32_t code, const std::u16string&) {
            if (code == SCANMSG_SCAN_TYPE) StopOV();
        });
        ScanRequest request{};
        request.hwndNotify = recorder.window();
        request.scanType = type;
        StartOVScan(&request);
        EXPECT_EQ(recorder.texts(SCANMSG_SCAN_TYPE), (std::vector<std::u16string>{text})) << type;
    }
}

TEST(ScanRun, WithoutTheArchiverTheScanStillRuns) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    Install install;
    const std::string content = "bad";
    install.writeDatabase(enginetest::Md5Upper(content) + "\r\n");
    std::u16string file = install.writeFile("f.bin", content);
    for (bool withArchiver : {true, false}) {
        // 7-Zip is looked for only at its fixed places, never in PATH.
        if (!withArchiver) SetArchiverCandidates({"/nonexistent/7zz"});
        Recorder recorder;
        CustomScan scan(recorder, file);
        StartOVScan(&scan.request);
        ResetArchiverCandidates();
        EXPECT_EQ(Findings(recorder).size(), 1u) << withArchiver;
        bool missingTrace =
            recorder.contains(SCANMSG_DEBUG, u" [ERROR] LoadUnzipRes::find resource failed (2)");
        EXPECT_EQ(missingTrace, !withArchiver);
        if (withArchiver && !missingTrace) {
            bool found = false;
            for (const auto& t : recorder.texts(SCANMSG_DEBUG))
                found |= t.rfind(u" LoadUnzipRes::Ended OK, EXE: /", 0) == 0;
            EXPECT_TRUE(found);
        }
        EXPECT_TRUE(ArchiverPath().empty());  // forgotten after the run
    }
}

TEST(ScanRun, PauseStopsTheScanThreadUntilResume) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    Install install;
    const std::string content = "paused content";
    install.writeDatabase(enginetest::Md5Upper(content) + "\r\n");
    std::u16string file = install.writeFile("p.bin", content);

    // The reference run, without a pause.
    std::vector<std::u16string> expected;
    {
        Recorder recorder;
        CustomScan scan(recorder, file);
        StartOVScan(&scan.request);
        expected = Findings(recorder);
        ASSERT_EQ(expected.size(), 1u);
    }

    Recorder recorder;
    std::atomic<bool> paused{false};
    recorder.onMessage([&](uint32_t code, const std::u16string&) {
        // On the scan thread, at its first message: pause from there.
        if (code == SCANMSG_SCAN_TYPE && !paused.exchange(true)) {
            EXPECT_EQ(PauseOV(), 1);
        }
    });
    CustomScan scan(recorder, file);
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        StartOVScan(&scan.request);
        finished = true;
    });
    while (!paused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const size_t whilePaused = recorder.messages().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(finished);
    EXPECT_EQ(recorder.messages().size(), whilePaused);
    EXPECT_EQ(ResumeOV(), 1);
    worker.join();
    EXPECT_EQ(Findings(recorder), expected);
    EXPECT_TRUE(recorder.contains(SCANMSG_SCAN_ENDED, u"scan ended"));
}

TEST(ScanRun, AStopReachesAPausedScan) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    Install install;
    const std::string content = "stopped content";
    install.writeDatabase(enginetest::Md5Upper(content) + "\r\n");
    std::u16string file = install.writeFile("s.bin", content);
    Recorder recorder;
    std::atomic<bool> paused{false};
    recorder.onMessage([&](uint32_t code, const std::u16string&) {
        if (code == SCANMSG_SCAN_TYPE && !paused.exchange(true)) PauseOV();
    });
    CustomScan scan(recorder, file);
    std::thread worker([&] { StartOVScan(&scan.request); });
    while (!paused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(StopOV(), 1);
    worker.join();
    EXPECT_EQ(RunFlag(), 0);
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u"User Stop The Scan"));
    EXPECT_TRUE(Findings(recorder).empty());
    EXPECT_TRUE(recorder.contains(SCANMSG_SCAN_ENDED, u"scan ended"));
    EXPECT_EQ(StopOV(), 0);
}

TEST(ScanRun, WithoutTheDriverPrivilegeNoScanRuns) {
    if (!IsRoot()) GTEST_SKIP() << "dropping one capability needs a process that holds them all";
    Install install;
    install.writeDatabase("");
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // Drop CAP_SYS_MODULE (SeLoadDriverPrivilege) from the effective and
        // permitted sets of this child only.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0) _exit(3);
        data[CAP_SYS_MODULE / 32].effective &= ~(1u << (CAP_SYS_MODULE % 32));
        data[CAP_SYS_MODULE / 32].permitted &= ~(1u << (CAP_SYS_MODULE % 32));
        if (syscall(SYS_capset, &header, data) != 0) _exit(4);
        Recorder recorder;
        ScanRequest request{};
        request.hwndNotify = recorder.window();
        request.scanType = 1036;
        int32_t result = StartOVScan(&request);
        bool ok = result == 0 && recorder.contains(SCANMSG_STATUS, u"no privilege error") &&
                  !recorder.contains(SCANMSG_STATUS, u"Scan thread started");
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
