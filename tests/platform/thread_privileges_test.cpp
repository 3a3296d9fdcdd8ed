// Keeping only some privileges on one thread: that thread and the threads it
// starts lose every other capability; the rest of the process keeps them.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/privilege.h"

namespace {

std::optional<uint64_t> ThreadCapabilities(const std::string& line) {
    std::ifstream status("/proc/thread-self/status");
    std::string text;
    while (std::getline(status, text)) {
        if (text.rfind(line + ":", 0) == 0) return std::stoull(text.substr(line.size() + 1), 0, 16);
    }
    return std::nullopt;
}

constexpr uint64_t kKept = (uint64_t{1} << CAP_DAC_READ_SEARCH) | (uint64_t{1} << CAP_SYS_PTRACE);

TEST(ThreadPrivileges, OnlyTheNamedOnesStayOnThatThreadAndItsThreads) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hold the privileges at all";
    const std::optional<uint64_t> before = ThreadCapabilities("CapEff");
    ASSERT_TRUE(before);
    if ((*before & kKept) != kKept) GTEST_SKIP() << "this root lacks the capabilities";

    std::optional<uint64_t> effective, permitted, bounding, inherited;
    uint32_t rc = 1;
    bool readOnly = false, loadDriver = true, others = true;
    std::thread worker([&] {
        rc = platform::keepOnlyPrivilegesOnThisThread({u"SeBackupPrivilege", u"SeDebugPrivilege"});
        effective = ThreadCapabilities("CapEff");
        permitted = ThreadCapabilities("CapPrm");
        bounding = ThreadCapabilities("CapBnd");
        readOnly = platform::threadHoldsPrivilege(u"SeBackupPrivilege");
        loadDriver = platform::threadHoldsPrivilege(u"SeLoadDriverPrivilege");
        others =
            platform::threadHoldsOtherCapabilities({u"SeBackupPrivilege", u"SeDebugPrivilege"});
        // A privilege gone cannot be enabled again.
        EXPECT_EQ(platform::enablePrivilege(u"SeShutdownPrivilege"),
                  platform::kErrorNotAllAssigned);
        std::thread child([&] { inherited = ThreadCapabilities("CapEff"); });
        child.join();
    });
    worker.join();
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(effective, kKept);
    EXPECT_EQ(permitted, kKept);
    ASSERT_TRUE(bounding);
    EXPECT_EQ(*bounding & ~kKept, 0u) << std::hex << *bounding;
    EXPECT_EQ(inherited, kKept);
    EXPECT_TRUE(readOnly);
    EXPECT_FALSE(loadDriver);
    EXPECT_FALSE(others);
    EXPECT_EQ(ThreadCapabilities("CapEff"), before);
    EXPECT_TRUE(platform::threadHoldsOtherCapabilities({u"SeBackupPrivilege"}));

    std::thread unknown([&] { rc = platform::keepOnlyPrivilegesOnThisThread({u"SeNoSuch"}); });
    unknown.join();
    EXPECT_EQ(rc, platform::kErrorNoSuchPrivilege);
}

}  // namespace
