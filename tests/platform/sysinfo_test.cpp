#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/text.h"
#include "temp_folder.h"

namespace {

TEST(SysInfo, UserNameIsTheEffectiveUsersLogin) {
    std::u16string name;
    ASSERT_EQ(platform::userName(name), 0u);
    passwd* entry = ::getpwuid(::geteuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(name, platform::toUtf16(entry->pw_name));
}

TEST(SysInfo, ComputerNameIsTheHostName) {
    std::u16string name;
    ASSERT_EQ(platform::computerName(name), 0u);
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(name, platform::toUtf16(host));
}

}  // namespace

// The figures read from /proc and /sys, against fixture files laid out by
// the test under a private root.
namespace {

class SystemRootTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setSystemRoot(root.host()); }
    void TearDown() override { platform::setSystemRoot({}); }

    void put(const std::string& path, const std::string& content) {
        std::filesystem::create_directories(
            std::filesystem::path(root.host() + path).parent_path());
        std::ofstream(root.host() + path, std::ios::binary) << content;
    }

    ovtest::TempFolder root;
};

TEST_F(SystemRootTest, MemoryFromMeminfo) {
    put("/proc/meminfo",
        "MemTotal:       16384000 kB\n"
        "MemFree:         1000000 kB\n"
        "MemAvailable:    4096000 kB\n"
        "Buffers:          100000 kB\n"
        "SwapTotal:       2097152 kB\n"
        "SwapFree:        1048576 kB\n");
    put("/proc/self/status", "Name:\tx\nVmPeak:\t 999 kB\nVmSize:\t  204800 kB\n");
    platform::MemoryStatus status;
    ASSERT_EQ(platform::memoryStatus(status), 0u);
    EXPECT_EQ(status.totalPhysical, 16384000ull << 10);
    EXPECT_EQ(status.availablePhysical, 4096000ull << 10);
    EXPECT_EQ(status.memoryLoad, 75u);
    EXPECT_EQ(status.totalPageFile, 2097152ull << 10);
    EXPECT_EQ(status.availablePageFile, 1048576ull << 10);
    EXPECT_EQ(status.totalVirtual - status.availableVirtual, 204800ull << 10);
    EXPECT_EQ(status.availableExtendedVirtual, 0u);
}

TEST_F(SystemRootTest, MemoryWithoutMemAvailableUsesMemFreeAndFailsWithoutMeminfo) {
    put("/proc/meminfo", "MemTotal: 1000 kB\nMemFree: 250 kB\n");
    platform::MemoryStatus status;
    ASSERT_EQ(platform::memoryStatus(status), 0u);
    EXPECT_EQ(status.availablePhysical, 250ull << 10);
    EXPECT_EQ(status.memoryLoad, 75u);
    EXPECT_EQ(status.totalPageFile, 0u);

    put("/proc/meminfo", "garbage\n");
    EXPECT_EQ(platform::memoryStatus(status), 13u);
    std::filesystem::remove(root.host() + "/proc/meminfo");
    EXPECT_EQ(platform::memoryStatus(status), 2u);
}

TEST_F(SystemRootTest, ProcessorsFromTheOnlineList) {
    const struct {
        const char* online;
        uint32_t count;
        uint64_t mask;
    } cases[] = {
        {"0-3\n", 4, 0xF},
        {"0\n", 1, 1},
        {"0-1,4,6-7\n", 5, 0xD3},
        {"0-69\n", 70, ~uint64_t(0)},
    };
    put("/proc/sys/vm/mmap_min_addr", "65536\n");
    for (const auto& c : cases) {
        put("/sys/devices/system/cpu/online", c.online);
        const platform::SystemFacts facts = platform::systemFacts();
        EXPECT_EQ(facts.numberOfProcessors, c.count) << c.online;
        EXPECT_EQ(facts.activeProcessorMask, c.mask) << c.online;
        EXPECT_EQ(facts.minimumApplicationAddress, 65536u);
        EXPECT_EQ(facts.pageSize, uint32_t(::sysconf(_SC_PAGESIZE)));
    }
}

TEST(SystemFacts, ArchitectureOfTheMachineNames) {
    EXPECT_EQ(platform::architectureOfMachine("x86_64"), platform::kArchitectureAmd64);
    EXPECT_EQ(platform::architectureOfMachine("i686"), platform::kArchitectureIntel);
    EXPECT_EQ(platform::architectureOfMachine("ia64"), platform::kArchitectureIa64);
    EXPECT_EQ(platform::architectureOfMachine("aarch64"), platform::kArchitectureArm64);
    EXPECT_EQ(platform::architectureOfMachine("riscv64"), platform::kArchitectureUnknown);
#if defined(__x86_64__)
    const platform::SystemFacts facts = platform::systemFacts();
    EXPECT_EQ(facts.architecture, platform::kArchitectureAmd64);
    EXPECT_EQ(facts.processorType, 8664u);
    EXPECT_EQ(facts.maximumApplicationAddress, (uint64_t(1) << 47) - facts.pageSize - 1);
#endif
}

TEST_F(SystemRootTest, KernelReleaseAsVersion) {
    const struct {
        const char* release;
        uint32_t major, minor, build;
    } cases[] = {
        {"6.1.0-18-amd64\n", 6, 1, 0},
        {"5.15.153.1-microsoft-standard-WSL2\n", 5, 15, 153},
        {"6.8\n", 6, 8, 0},
        {"4.19.0\n", 4, 19, 0},
    };
    for (const auto& c : cases) {
        put("/proc/sys/kernel/osrelease", c.release);
        platform::OsVersion version;
        ASSERT_EQ(platform::osVersion(version), 0u) << c.release;
        EXPECT_EQ(version.major, c.major) << c.release;
        EXPECT_EQ(version.minor, c.minor) << c.release;
        EXPECT_EQ(version.build, c.build) << c.release;
        EXPECT_TRUE(version.servicePack.empty());
    }
    put("/proc/sys/kernel/osrelease", "weird");
    platform::OsVersion version;
    EXPECT_EQ(platform::osVersion(version), 13u);
}

TEST_F(SystemRootTest, FirstProcessorClockFromCpufreq) {
    platform::ProcessorSpeed speed;
    EXPECT_EQ(platform::firstProcessorSpeed(speed), 2u);  // no cpufreq: no figures
    put("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3400000\n");
    EXPECT_EQ(platform::firstProcessorSpeed(speed), 2u);  // half the figures are none
    put("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "1200500\n");
    ASSERT_EQ(platform::firstProcessorSpeed(speed), 0u);
    EXPECT_EQ(speed.maxMhz, 3400u);
    EXPECT_EQ(speed.currentMhz, 1200u);
}

}  // namespace
