#include "app/shell/startup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "app/shell/app_log.h"
#include "app/shell/shell_state.h"
#include "app/shell/shell_test_support.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace {

using namespace std::chrono;
using platform::RegRoot;

constexpr char16_t kProduct[] = u"SOFTWARE\\Orvane\\Wardline";

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ORVANE_REGISTRY", (folder.path() / "registry.db").c_str(), 1);
        platform::resetRegistryConnection();
        gShellState.Reset();
    }
    void TearDown() override {
        gStartupLog.Close();
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
    }
    void createProductKey() {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::create(RegRoot::LocalMachine, kProduct, key), 0u);
    }

    TempFolder folder;
};

TEST(AppLogFileName, BuiltFromUtcWithoutLeadingZeros) {
    const auto moment = sys_days{year{2026} / March / 5} + hours{7} + minutes{8} + seconds{9};
    EXPECT_EQ(AppLogFileName(moment), u"..\\logs\\OrvaneApp_3.5.2026.7.8.9.log");
    const auto late = sys_days{year{2026} / December / 31} + hours{23} + minutes{59} + seconds{58};
    EXPECT_EQ(AppLogFileName(late), u"..\\logs\\OrvaneApp_12.31.2026.23.59.58.log");
}

TEST_F(StartupTest, GetRegValueStatusRules) {
    char16_t buffer[16];
    std::memset(buffer, 0x5A, sizeof(buffer));
    uint32_t size = sizeof(buffer);
    // A missing key gives 0 and leaves the buffer as it was.
    EXPECT_EQ(GetRegValue(kProduct, u"Path", buffer, &size), 0u);
    for (char16_t unit : buffer) ASSERT_EQ(unit, 0x5A5A);

    createProductKey();
    size = sizeof(buffer);
    EXPECT_EQ(GetRegValue(kProduct, u"Path", buffer, &size), 1u);  // missing value

    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kProduct, u"Version", u"1.0.1.310"), 0u);
    size = sizeof(buffer);
    EXPECT_EQ(GetRegValue(kProduct, u"Version", buffer, &size), 0u);
    EXPECT_EQ(std::u16string(buffer), u"1.0.1.310");
    EXPECT_EQ(size, 20u);

    char16_t small[4] = {};
    size = sizeof(small);
    EXPECT_EQ(GetRegValue(kProduct, u"Version", small, &size), 1u);  // does not fit
}

TEST_F(StartupTest, FirstStartOverwritesShortPathAndWritesVersion) {
    createProductKey();
    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kProduct, u"Path", u"C:",
                                    platform::kRegExpandSz),
              0u);
    EXPECT_EQ(InitAppRegistry(), 1);

    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::open(RegRoot::LocalMachine, kProduct, key), 0u);
    char16_t path[512] = {};
    uint32_t type = 0;
    uint32_t size = sizeof(path);
    ASSERT_EQ(key.queryValue(u"Path", &type, path, &size), 0u);
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(size, 512u);
    EXPECT_EQ(std::u16string(path), platform::currentDirectory());

    std::u16string version;
    EXPECT_EQ(platform::readString(RegRoot::LocalMachine, kProduct, u"Version", version), 0u);
    EXPECT_EQ(version, u"1.0.1.310");
}

TEST_F(StartupTest, RecordedPathIsKept) {
    createProductKey();
    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kProduct, u"Path", u"C:\\opt\\ov\\bin",
                                    platform::kRegExpandSz),
              0u);
    EXPECT_EQ(InitAppRegistry(), 1);
    std::u16string path;
    EXPECT_EQ(platform::readString(RegRoot::LocalMachine, kProduct, u"Path", path), 0u);
    EXPECT_EQ(path, u"C:\\opt\\ov\\bin");
    std::u16string version;
    EXPECT_EQ(platform::readString(RegRoot::LocalMachine, kProduct, u"Version", version), 2u);
}

TEST_F(StartupTest, MissingProductKeyIsNotCreated) {
    EXPECT_EQ(InitAppRegistry(), 1);
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::open(RegRoot::LocalMachine, kProduct, key), 2u);
}

TEST_F(StartupTest, StartupLogIsPlainUtf16AndSkippedWhenClosed) {
    const std::u16string name = folder.windows("OrvaneInit.log");
    gStartupLog.Write(u"before\n");  // not open: skipped
    ASSERT_TRUE(gStartupLog.Open(name));
    gStartupLog.Write(u"[INFO] CheckServiceState: Start...\n");
    gStartupLog.Close();
    gStartupLog.Write(u"after\n");
    EXPECT_EQ(readBytes(folder.path() / "OrvaneInit.log"),
              utf16le(u"[INFO] CheckServiceState: Start...\n"));
}

TEST_F(StartupTest, ServiceCheckRunsUnlessAScheduledStartIsUnderWay) {
    gAppLog.Reset();
    const std::u16string name = folder.windows("app.log");
    ASSERT_EQ(gAppLog.Open(name.c_str()), 0);
    InitAppRegistry();
    gShellState.scheduledStart = 1;
    InitAppRegistry();
    gAppLog.Reset();
    const std::string log = readBytes(folder.path() / "app.log");
    const std::string entry = utf16le(u"In CheckServiceStartup\n");
    const size_t first = log.find(entry);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find(entry, first + 1), std::string::npos);
}

}  // namespace
