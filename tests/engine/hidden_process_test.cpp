// The hidden-process probe on this machine: nothing is hidden on a normal
// system, threads and short-lived processes included; a process the list
// leaves out is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/threat_scan.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
#include "threat_sandbox_support.h"

namespace {

using namespace threat_test;

#define SKIP_WITHOUT_PRIVILEGES(box) \
    if ((box).privilegesMissing()) GTEST_SKIP() << "the account lacks the scan's privileges"

// Waits until a child runs its own program rather than the spawner's copy.
void waitForProgram(uint32_t pid, const std::u16string& baseName) {
    for (int i = 0; i < 500; ++i) {
        auto modules = platform::listModules(pid);
        if (!modules.empty() && platform::baseName(modules.front()) == baseName) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST(HiddenProcess, ANormalSystemHidesNothing) {
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

TEST(HiddenProcess, AProcessLeftOutOfTheListIsReported) {
    ThreatSandbox box;
    box.setSetting(names::kHidden, 1);
    TestChild child({"/bin/sleep", "30"});
    ASSERT_GT(child.pid(), 0);
    const uint32_t pid = static_cast<uint32_t>(child.pid());
    waitForProgram(pid, u"sleep");
    // The list the probe compares with leaves the child out; the probe still
    // opens it by its identifier.
    threatScanHooks().hiddenProbeList = [pid] {
        std::vector<platform::ProcessEntry> list = platform::listProcesses();
        std::erase_if(list, [pid](const platform::ProcessEntry& e) { return e.pid == pid; });
        return list;
    };
    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_EQ(textsOf(messages, SCANMSG_HIDDEN_PROCESS), std::vector<std::u16string>{u"sleep"});
    EXPECT_EQ(textsOf(messages, SCANMSG_REPORT_LINE),
              std::vector<std::u16string>{u" Hidden process: sleep\n"});
}

TEST(HiddenProcess, ANameThatCannotBeReadIsUnknownWithItsIdentifier) {
    // Kernel threads have neither modules nor an image file.
    std::u16string image = platform::processImagePath(2);
    if (!platform::probeProcess(2) || !image.empty() || !platform::listModules(2).empty()) {
        GTEST_SKIP() << "identifier 2 is not a kernel thread here";
    }
    ThreatSandbox box;
    box.setSetting(names::kHidden, 1);
    threatScanHooks().hiddenProbeList = [] {
        std::vector<platform::ProcessEntry> list = platform::listProcesses();
        std::erase_if(list, [](const platform::ProcessEntry& e) { return e.pid == 2; });
        return list;
    };
    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_EQ(textsOf(messages, SCANMSG_HIDDEN_PROCESS), std::vector<std::u16string>{u"<unknown>"});
    EXPECT_EQ(textsOf(messages, SCANMSG_REPORT_LINE),
              std::vector<std::u16string>{u" Hidden process: <unknown> PID: 2\n"});
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
