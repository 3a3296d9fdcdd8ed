#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/process.h"

namespace {

using namespace std::chrono_literals;

bool EndsWithin(uint32_t pid, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!platform::processHasEnded(pid)) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(ProcessExit, APoliteRequestEndsAChildThatHeedsIt) {
    platform::ChildProcess child;
    ASSERT_EQ(platform::ChildProcess::spawn({"sleep", "300"}, {}, child), 0u);
    const auto pid = static_cast<uint32_t>(child.pid());
    EXPECT_FALSE(platform::processHasEnded(pid));
    ASSERT_EQ(platform::requestProcessExit(pid), 0u);
    // Ended but not yet collected by its parent: it counts as ended.
    EXPECT_TRUE(EndsWithin(pid, 60s));
    EXPECT_EQ(child.wait(60s), 0u);
    EXPECT_EQ(child.exitCode(), 128u + 15u);  // SIGTERM
    EXPECT_TRUE(platform::processHasEnded(pid));
}

TEST(ProcessExit, NoProcessNoRequest) {
    EXPECT_EQ(platform::requestProcessExit(0), 87u);
    EXPECT_EQ(platform::requestProcessExit(0x7FFFFFFEu), 87u);
    EXPECT_TRUE(platform::processHasEnded(0));
    EXPECT_TRUE(platform::processHasEnded(0x7FFFFFFEu));
    EXPECT_FALSE(platform::processHasEnded(platform::currentProcessId()));
}

}  // namespace
