// The service thread's watcher loop, in this process over a sandbox, while
// its checks are held back: the way a long check or a hash-list rebuild
// holds them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "service/service_host.h"
#include "service/service_in_process_support.h"
#include "service/service_state.h"

namespace svctest {
namespace {

constexpr char kCritical[] = "[CRITICAL] DoFileChangesWatcherThread=>  Queue overflowed.\n";

// The names under C:\burst\ that the log shows hashed ("<path> [<md5>].").
std::set<std::string> checkedInBurst(const std::string& log) {
    static const std::string kFolder = "C:\\burst\\";
    std::set<std::string> names;
    for (size_t at = log.find(kFolder); at != std::string::npos; at = log.find(kFolder, at + 1)) {
        const size_t begin = at + kFolder.size();
        const size_t end = log.find(" [", begin);
        if (end == std::string::npos || end == begin) continue;
        const std::string name = log.substr(begin, end - begin);
        if (name.find_first_not_of("0123456789") == std::string::npos) names.insert(name);
    }
    return names;
}

// The "data" record's checked count.
size_t checkedCount(const ServiceSandbox& sandbox) {
    const std::string record = sandbox.dataRecord();
    return static_cast<size_t>(std::strtoul(record.c_str(), nullptr, 10));
}

class WatcherLoop {
public:
    explicit WatcherLoop(InProcessService& service) : m_service(service) {
        m_thread = std::thread([] { ovsvc::DoFileChangesWatcherThread(); });
        EXPECT_TRUE(WaitUntil(
            [&] { return m_service.log().find("FlipFile:  file OK...") != std::string::npos; }));
    }
    ~WatcherLoop() {
        ovsvc::requestStop();
        m_thread.join();
    }

private:
    InProcessService& m_service;
    std::thread m_thread;
};

struct BurstCase {
    const char* name;
    bool pastTheKernelQueue;  // more files than the kernel's queue holds
};

class HeldBackBurst : public ::testing::TestWithParam<BurstCase> {};

// Files made while the checks are held back: within the kernel's queue the
// burst only fills the service's queue, which is no loss and writes no
// critical line; past it the kernel drops changes, the critical line says
// so and the catch-up walk finds every file all the same.
TEST_P(HeldBackBurst, EveryFileIsCheckedAndOnlyAKernelLossIsCritical) {
    long limit = 16384;
    std::ifstream("/proc/sys/fs/fanotify/max_queued_events") >> limit;
    long inotifyLimit = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> inotifyLimit;
    limit = std::max(limit, inotifyLimit);
    if (GetParam().pastTheKernelQueue && limit > 40000)
        GTEST_SKIP() << "the kernel's event queue is too large to fill here";
    const int files = GetParam().pastTheKernelQueue ? static_cast<int>(limit) + 6000 : 2500;

    InProcessService service;
    fs::create_directories(service.sandbox().watched() / "burst");
    WatcherLoop loop(service);
    {
        std::lock_guard<std::mutex> hold(ovsvc::serviceState().hashListLock);
        for (int i = 0; i < files; ++i)
            WriteText(service.sandbox().watched() / "burst" / std::to_string(i), std::to_string(i));
    }
    // Every file counted (some twice: the catch-up walk also finds those
    // announced before the loss), then every name in the log.
    std::set<std::string> checked;
    EXPECT_TRUE(WaitUntil(
        [&] {
            if (checkedCount(service.sandbox()) < static_cast<size_t>(files)) return false;
            checked = checkedInBurst(service.log());
            return checked.size() >= static_cast<size_t>(files);
        },
        std::chrono::seconds(240)))
        << checked.size() << " of " << files << " checked";
    const std::string log = service.log();
    if (GetParam().pastTheKernelQueue) {
        EXPECT_GE(CountOf(log, kCritical), 1u);
    } else {
        EXPECT_EQ(CountOf(log, "[CRITICAL]"), 0u);
    }
}

// The counts held for the registry when the service stops are written
// before the loop returns.
TEST(WatcherLoop, TheRecordIsWholeWhenTheLoopStops) {
    InProcessService service;
    constexpr int kFiles = 300;
    fs::create_directories(service.sandbox().watched() / "burst");
    {
        WatcherLoop loop(service);
        for (int i = 0; i < kFiles; ++i)
            WriteText(service.sandbox().watched() / "burst" / std::to_string(i), "x");
        // Each file's digest is logged before its check counts it; the
        // check in progress ends before the loop sees the stop.
        EXPECT_TRUE(
            WaitUntil([&] { return checkedInBurst(service.log()).size() >= size_t(kFiles); },
                      std::chrono::seconds(120)));
    }
    EXPECT_EQ(checkedCount(service.sandbox()), size_t(kFiles)) << service.sandbox().dataRecord();
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeldBackBurst,
                         ::testing::Values(BurstCase{"WithinTheKernelQueue", false},
                                           BurstCase{"PastTheKernelQueue", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace svctest
