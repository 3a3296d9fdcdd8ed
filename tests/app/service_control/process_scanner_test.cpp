// The live panel's figures from fixture files of /proc, its watchers and
// counter thread, and the start-up entry.
#include "app/service_control/process_scanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "app/service_control/svcctl_sandbox_support.h"
#include "common/registry_names.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using svcctltest::Sandbox;

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A watcher whose thread the test ends.
class FakeWatcher : public DeviceWatcher {
public:
    explicit FakeWatcher(std::shared_ptr<std::atomic<bool>> alive) : m_alive(std::move(alive)) {}
    bool start() override {
        *m_alive = true;
        return true;
    }
    bool running() const override { return *m_alive; }

private:
    std::shared_ptr<std::atomic<bool>> m_alive;
};

class ProcessScannerTest : public ::testing::Test {
protected:
    ProcessScannerSources sources() {
        ProcessScannerSources s;
        s.procRoot = (sandbox.dir() / "proc").string();
        s.systemRoot = (sandbox.dir() / "root").string();
        s.interval = std::chrono::milliseconds(10);
        s.makeDeviceWatcher = [this] {
            auto alive = std::make_shared<std::atomic<bool>>(false);
            watchers.push_back(alive);
            return std::make_unique<FakeWatcher>(alive);
        };
        return s;
    }
    fs::path proc() const { return sandbox.dir() / "proc"; }
    fs::path root() const { return sandbox.dir() / "root"; }

    Sandbox sandbox;
    std::vector<std::shared_ptr<std::atomic<bool>>> watchers;
};

TEST_F(ProcessScannerTest, ProcessCounterCountsProcessesAndDistinctMappedFiles) {
    writeText(proc() / "1" / "maps",
              "55d0-55d1 r--p 00000000 08:01 131 /usr/bin/bash\n"
              "55d1-55d2 r-xp 00001000 08:01 131 /usr/bin/bash\n"
              "7f00-7f01 r--p 00000000 08:01 200 /usr/lib/libc.so.6\n"
              "7f01-7f02 rw-p 00000000 00:00 0 \n"
              "7f02-7f03 r--p 00000000 08:01 201 /usr/lib/my lib.so\n"
              "7f03-7f04 r--p 00000000 08:01 300 /tmp/gone.so (deleted)\n"
              "7f04-7f05 r-xp 00002000 08:01 200 /usr/lib/libc.so.6\n"
              "7ffd-7ffe rw-p 00000000 00:00 0 [stack]\n");
    writeText(proc() / "22" / "maps", "");   // a kernel thread maps nothing
    fs::create_directories(proc() / "333");  // maps unreadable: no modules
    writeText(proc() / "self" / "maps", "1-2 r--p 0 08:01 1 /not/a/process\n");
    writeText(proc() / "4444" / "maps",
              "1-2 r--p 0 08:01 1 /usr/bin/sleep\n3-4 r--p 0 08:01 2 /usr/lib/libc.so.6\n");

    std::vector<PanelUpdate> seen;
    ProcessScanner scanner(sources(), [&](const std::vector<PanelUpdate>& updates) {
        seen.insert(seen.end(), updates.begin(), updates.end());
    });
    scanner.ProcessCounter();
    EXPECT_EQ(scanner.figure(panel::kProcesses), u"4");
    EXPECT_EQ(scanner.figure(panel::kModules), u"6");  // 4 for bash, 2 for sleep
    ASSERT_EQ(seen.size(), 2u);

    // A process list that cannot be read leaves the figures.
    fs::remove_all(proc());
    scanner.ProcessCounter();
    EXPECT_EQ(scanner.figure(panel::kProcesses), u"4");
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(ProcessScannerTest, MemoryFromMeminfo) {
    ProcessScanner scanner(sources(), {});
    writeText(root() / "proc" / "meminfo",
              "MemTotal:       16384000 kB\nMemFree:         1000000 kB\n"
              "MemAvailable:    4096000 kB\nSwapTotal: 0 kB\n");
    scanner.GetMemoryInfo();
    EXPECT_EQ(scanner.figure(panel::kMemoryFree), u"25");
    EXPECT_EQ(scanner.figure(panel::kMemoryTotal), u"16000");

    // An old kernel without MemAvailable: MemFree stands in.
    writeText(root() / "proc" / "meminfo", "MemTotal: 2097152 kB\nMemFree: 1048576 kB\n");
    scanner.GetMemoryInfo();
    EXPECT_EQ(scanner.figure(panel::kMemoryFree), u"50");
    EXPECT_EQ(scanner.figure(panel::kMemoryTotal), u"2048");

    // Unreadable or without a total: the figures stay.
    writeText(root() / "proc" / "meminfo", "MemFree: 1 kB\n");
    scanner.GetMemoryInfo();
    fs::remove(root() / "proc" / "meminfo");
    scanner.GetMemoryInfo();
    EXPECT_EQ(scanner.figure(panel::kMemoryFree), u"50");
}

TEST_F(ProcessScannerTest, NetworkFiguresPreferIpv6WhenReadable) {
    ProcessScanner scanner(sources(), {});
    writeText(root() / "proc" / "net" / "snmp",
              "Ip: Forwarding DefaultTTL\nIp: 1 64\n"
              "Tcp: RtoAlgorithm RtoMin RtoMax MaxConn ActiveOpens PassiveOpens AttemptFails "
              "EstabResets CurrEstab\nTcp: 1 200 120000 -1 1234 56 7 8 9\n"
              "Udp: InDatagrams NoPorts\nUdp: 10 2\n");
    const std::string heading =
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode ref pointer drops\n";
    writeText(root() / "proc" / "net" / "udp",
              heading +
                  "  1: 00000000:0044 00000000:0000 07 0 0 0 0 0 0 1 2\n"
                  "  2: 3500007F:0035 00000000:0000 07 0 0 0 0 0 0 1 2\n"
                  " 10: 00000000:14E9 00000000:0000 07 0 0 0 0 0 0 1 2\n");
    scanner.GetNetInfo();
    EXPECT_EQ(scanner.figure(panel::kTcp), u"1234");
    EXPECT_EQ(scanner.figure(panel::kUdp), u"3");  // no IPv6 table here

    writeText(root() / "proc" / "net" / "udp6",
              heading +
                  "  5: 00000000000000000000000000000000:14E9 "
                  "00000000000000000000000000000000:0000 07 0 0 0 0 0 0 1 2\n");
    scanner.GetNetInfo();
    EXPECT_EQ(scanner.figure(panel::kUdp), u"1");

    // Nothing readable: the figures stay.
    fs::remove_all(root() / "proc" / "net");
    scanner.GetNetInfo();
    EXPECT_EQ(scanner.figure(panel::kTcp), u"1234");
    EXPECT_EQ(scanner.figure(panel::kUdp), u"1");
}

TEST_F(ProcessScannerTest, RestartDeviceMonitorStartsOneWatcherAndRestartsAnEndedOne) {
    ProcessScanner scanner(sources(), {});
    scanner.RestartDeviceMonitor();  // Monitoring off
    EXPECT_EQ(scanner.monitoringWatcherStarts(), 0u);

    sandbox.setFlag(names::kMonitoring, 1);
    scanner.RestartDeviceMonitor();
    EXPECT_EQ(scanner.monitoringWatcherStarts(), 1u);
    EXPECT_EQ(scanner.figure(panel::kRegistryMonitor), kMonitorActive);
    scanner.RestartDeviceMonitor();  // still running: not started again
    scanner.RestartDeviceMonitor();
    EXPECT_EQ(scanner.monitoringWatcherStarts(), 1u);
    EXPECT_EQ(watchers.size(), 1u);

    *watchers[0] = false;  // its thread ended
    scanner.RestartDeviceMonitor();
    EXPECT_EQ(scanner.monitoringWatcherStarts(), 2u);
    EXPECT_TRUE(scanner.monitoringWatcherRunning());
}

TEST_F(ProcessScannerTest, InitStartsTheDueWatchersOnceAndResetsThePanel) {
    sandbox.setFlag(names::kCatchExt, 1);
    sandbox.setFlag(names::kMonitoring, 1);
    int schedules = 0;
    ProcessScannerSources s = sources();
    s.startScheduledStart = [&] { return ++schedules, true; };
    ProcessScanner scanner(s, {});
    scanner.InitProcessScanner();
    EXPECT_EQ(watchers.size(), 2u);
    EXPECT_EQ(scanner.figure(panel::kRegistryMonitor), kMonitorActive);
    EXPECT_EQ(scanner.figure(panel::kDeviceMonitor), kMonitorActive);
    EXPECT_EQ(scanner.figure(1062), u"00:00:00");
    EXPECT_EQ(scanner.figure(1015), u"0");
    EXPECT_TRUE(scanner.counterRunning());

    // After a scan: nothing is started twice and the running watchers stay
    // shown as active.
    scanner.InitProcessScanner();
    EXPECT_EQ(watchers.size(), 2u);
    EXPECT_EQ(schedules, 1);
    EXPECT_EQ(scanner.figure(panel::kRegistryMonitor), kMonitorActive);
    EXPECT_EQ(scanner.figure(panel::kDeviceMonitor), kMonitorActive);
    EXPECT_TRUE(scanner.StopThreads());
}

TEST_F(ProcessScannerTest, CounterThreadPausesAndEndsCooperatively) {
    writeText(proc() / "1" / "maps", "1-2 r--p 0 08:01 1 /usr/bin/init\n");
    writeText(root() / "proc" / "meminfo", "MemTotal: 1024 kB\nMemAvailable: 512 kB\n");
    std::atomic<int> deliveries{0};
    ProcessScanner scanner(sources(), [&](const std::vector<PanelUpdate>&) { ++deliveries; });
    scanner.InitProcessScanner();
    ASSERT_TRUE(scanner.waitForPasses(2, std::chrono::seconds(30)));
    EXPECT_EQ(scanner.figure(panel::kProcesses), u"1");
    EXPECT_EQ(scanner.figure(panel::kMemoryFree), u"50");

    scanner.SuspendProcessCounter();
    EXPECT_TRUE(scanner.counterSuspended());
    scanner.ResumeProcessCounter();
    const uint64_t passes = scanner.counterPasses();
    ASSERT_TRUE(scanner.waitForPasses(passes + 1, std::chrono::seconds(30)));

    // A suspended thread ends too.
    scanner.SuspendProcessCounter();
    EXPECT_TRUE(scanner.StopThreads());
    EXPECT_FALSE(scanner.counterRunning());
    const int after = deliveries;
    scanner.ProcessCounter();  // the sink is gone: nothing is delivered
    EXPECT_EQ(deliveries, after);
}

TEST_F(ProcessScannerTest, StartupFlagWritesOrRemovesTheRunValueAndItsAutostartEntry) {
    const fs::path entry = sandbox.autostartFolder() / "orvane-run-orvane.desktop";
    const std::u16string command = platform::currentDirectory() + u"\\ovUpdate";

    writeText(sandbox.programFolder() / "ovUpdate", "#!/bin/sh\n");
    sandbox.setFlag(names::kStartup, 1);
    ASSERT_EQ(UpdateStartupEntry(), 0u);
    std::u16string value;
    ASSERT_EQ(platform::readString(platform::RegRoot::LocalMachine, kRunKey, kRunValueName, value),
              0u);
    EXPECT_EQ(value, command);
    const std::string text = readText(entry);
    // The program folder's name has a blank: the argument is quoted.
    EXPECT_NE(text.find("Exec=\"" + (sandbox.programFolder() / "ovUpdate").string() + "\"\n"),
              std::string::npos)
        << text;

    for (uint32_t off : {0u, 2u}) {
        sandbox.setFlag(names::kStartup, 1);
        ASSERT_EQ(UpdateStartupEntry(), 0u);
        ASSERT_TRUE(fs::exists(entry));
        if (off == 0) {
            sandbox.setFlag(names::kStartup, 0);
        } else {
            ASSERT_EQ(platform::deleteTree(platform::RegRoot::LocalMachine, names::kSettingsKey),
                      0u);  // Startup absent
        }
        ASSERT_EQ(UpdateStartupEntry(), 0u);
        EXPECT_EQ(
            platform::readString(platform::RegRoot::LocalMachine, kRunKey, kRunValueName, value),
            2u);
        EXPECT_FALSE(fs::exists(entry));
        platform::RegKey key;
        (void)platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey, key);
    }
}

}  // namespace
