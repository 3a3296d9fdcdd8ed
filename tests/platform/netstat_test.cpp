// The panel's figures read from this machine's own /proc (the fixture cases
// are in the service control tests).
#include "platform/netstat.h"

#include <gtest/gtest.h>

#include "platform/process.h"

namespace {

TEST(LiveFigures, ThisMachine) {
    platform::ProcessModuleCount count;
    ASSERT_TRUE(platform::countProcessesAndModules(count));
    EXPECT_GE(count.processes, 1u);
    EXPECT_GE(count.modules, 1u);  // this test maps itself and its libraries

    platform::PhysicalMemory memory;
    ASSERT_EQ(platform::physicalMemory(memory), 0u);
    EXPECT_GT(memory.totalBytes, 0u);
    EXPECT_LE(memory.availableBytes, memory.totalBytes);
    EXPECT_LE(memory.memoryLoad, 100u);

    platform::TcpStatistics tcp;
    EXPECT_EQ(platform::tcpStatistics(false, tcp), 0u);
    EXPECT_EQ(platform::tcpStatistics(true, tcp), 50u);  // one set of counters for both
    uint32_t entries = 0;
    EXPECT_EQ(platform::udpListenerCount(false, entries), 0u);
}

TEST(LiveFigures, MissingFolderIsAFailureNotZeroes) {
    platform::ProcessModuleCount count;
    EXPECT_FALSE(platform::countProcessesAndModules(count, "/nonexistent-proc"));
    platform::PhysicalMemory memory;
    EXPECT_EQ(platform::physicalMemory(memory, "/nonexistent-root"), 2u);
    uint32_t entries = 0;
    EXPECT_EQ(platform::udpListenerCount(true, entries, "/nonexistent-root"), 2u);
}

}  // namespace
