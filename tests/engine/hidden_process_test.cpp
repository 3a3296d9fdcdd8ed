// The hidden-process probe: on this machine nothing is hidden, threads and
// short-lived processes included; over a process table of the test's own, a
// process the list leaves out is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/threat_scan.h"
#include "platform/linux/process_list_internal.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
#include "threat_sandbox_support.h"

namespace {

using namespace threat_test;

#define SKIP_WITHOUT_PRIVILEGES(box) \
    if ((box).privilegesMissing()) GTEST_SKIP() << "the account lacks the scan's privileges"

// The one test against this machine's own process table.
TEST(HiddenProcess, OnThisMachineNothingIsHidden) {
    ThreatSandbox box;
    box.setSetting(names::kHidden, 1);
    // Threads of this process, and processes that come and go meanwhile.
    std::atomic<bool> done{false};
    std::thread busy([&] {
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::thread churn([&] {
        while (!done) {
            TestChild child({"/bin/true"});
            child.wait();
        }
    });
    auto messages = box.run();
    done = true;
    busy.join();
    churn.join();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_TRUE(textsOf(messages, SCANMSG_HIDDEN_PROCESS).empty())
        << show(textsOf(messages, SCANMSG_HIDDEN_PROCESS));
    EXPECT_TRUE(textsOf(messages, SCANMSG_REPORT_LINE).empty())
        << show(textsOf(messages, SCANMSG_REPORT_LINE));
    // One object per process that opened, this one at least.
    EXPECT_GE(countText(messages, SCANMSG_OBJECT_TICK, u""), 1u);
}

// A process table of the test's own, laid out as /proc: each process a
// folder with its status file, and its executable link and mapped files
// when it has them.
class FixtureProcesses {
public:
    explicit FixtureProcesses(const fs::path& root) : m_root(root), m_scope(root.string()) {
        fs::create_directories(root / "sys" / "kernel");
        std::ofstream(root / "sys" / "kernel" / "pid_max") << "400\n";
    }
    // exe empty: a kernel thread's like, with neither image nor modules.
    void add(uint32_t pid, const std::string& name, const fs::path& exe = {}) {
        const fs::path folder = m_root / std::to_string(pid);
        fs::create_directories(folder);
        std::ofstream(folder / "status")
            << "Name:\t" << name << "\nTgid:\t" << pid << "\nPPid:\t1\n";
        if (exe.empty()) return;
        fs::create_symlink(exe, folder / "exe");
        std::ofstream(folder / "maps")
            << "00400000-00452000 r-xp 00000000 08:02 173521      " << exe.string() << "\n";
    }

private:
    fs::path m_root;
    platform::detail::ScopedProcessRoot m_scope;
};

// The probe finds each process by its identifier; the list it compares with
// leaves one out, which is then reported by its image's name, or as
// unknown with its identifier when it has no image.
TEST(HiddenProcess, AProcessLeftOutOfTheListIsReported) {
    struct Case {
        const char* name;
        bool hasImage;
        std::u16string reported;
        std::u16string line;
    } cases[] = {
        {"sleep", true, u"sleep", u" Hidden process: sleep\n"},
        {"kthreadd", false, u"<unknown>", u" Hidden process: <unknown> PID: 300\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThreatSandbox box;
        box.setSetting(names::kHidden, 1);
        const fs::path image = box.placeClean(box.c / "bin" / c.name);
        FixtureProcesses processes(box.root / "proc");
        processes.add(1, "init", box.c / "sbin" / "init");
        processes.add(300, c.name, c.hasImage ? image : fs::path());
        processes.add(301, "bash", box.c / "bin" / "bash");
        threatScanHooks().hiddenProbeList = [] {
            std::vector<platform::ProcessEntry> list = platform::listProcesses();
            std::erase_if(list, [](const platform::ProcessEntry& e) { return e.pid == 300; });
            return list;
        };
        auto messages = box.run();
        SKIP_WITHOUT_PRIVILEGES(box);
        EXPECT_EQ(textsOf(messages, SCANMSG_HIDDEN_PROCESS),
                  std::vector<std::u16string>{c.reported});
        EXPECT_EQ(textsOf(messages, SCANMSG_REPORT_LINE), std::vector<std::u16string>{c.line});
    }
}

TEST(HiddenProcess, AnEmptyListIsAFailureToList) {
    ThreatSandbox box;
    box.setSetting(names::kHidden, 1);
    threatScanHooks().hiddenProbeList = [] { return std::vector<platform::ProcessEntry>{}; };
    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    bool traced = false;
    for (const std::u16string& text : textsOf(messages, SCANMSG_DEBUG)) {
        if (text.rfind(u" DoScanHiddenProcess EnumProcesses Last Error: ", 0) == 0) traced = true;
    }
    EXPECT_TRUE(traced);
    EXPECT_TRUE(textsOf(messages, SCANMSG_HIDDEN_PROCESS).empty());
}

}  // namespace
