// The change watcher on real files in a temporary folder that the drive map
// makes C:\, for each backend the machine allows.
#include "service/directory_watcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "platform/dirwatch.h"
#include "platform/text.h"
#include "service/service_sandbox_support.h"

namespace svctest {
namespace {

using Backend = platform::DirectoryWatch::Backend;
using ovsvc::ChangeNotification;

constexpr uint32_t kFilter =
    ovsvc::kNotifyFileName | ovsvc::kNotifyLastWrite | ovsvc::kNotifyCreation;

std::string describe(const ChangeNotification& change) {
    return std::to_string(change.action) + (change.check ? "!" : "") + " " +
           platform::toUtf8(change.path);
}

class DirectoryWatcherTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        m_watcher = std::make_unique<ovsvc::DirectoryWatcher>(
            [this](bool truncated) {
                ++m_losses;
                if (truncated) ++m_truncated;
            },
            GetParam());
        uint32_t rc = m_watcher->Watch(u"C:\\", true, kFilter, 16384);
        if (rc == 50)
            GTEST_SKIP() << "fanotify is not permitted here (needs CAP_SYS_ADMIN and a "
                            "file system with file handles); the inotify path runs";
        ASSERT_EQ(rc, 0u);
        ASSERT_EQ(m_watcher->Backend(), GetParam());
    }

    // Everything queued until a new marker file is announced as added.
    std::vector<std::string> collectUntilMarker() {
        const std::string name = "zz-marker" + std::to_string(++m_markers);
        WriteText(m_sandbox.watched() / name, "m");
        const std::u16string marker = u"C:\\" + platform::toUtf16(name);
        std::vector<std::string> seen;
        WaitUntil([&] {
            ChangeNotification change;
            while (m_watcher->Wait(std::chrono::milliseconds(0)) && m_watcher->Next(change)) {
                if (change.path == marker && change.action == 1) return true;
                seen.push_back(describe(change));
            }
            return false;
        });
        return seen;
    }
    int m_markers = 0;

    ServiceSandbox m_sandbox;
    std::unique_ptr<ovsvc::DirectoryWatcher> m_watcher;
    std::atomic<int> m_losses{0};
    std::atomic<int> m_truncated{0};
};

TEST_P(DirectoryWatcherTest, ANewFileIsOneAddedCheckUnderItsFullPath) {
    fs::create_directories(m_sandbox.watched() / "dir");
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{});
    WriteText(m_sandbox.watched() / "dir" / "a.exe", "payload");
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{"1! C:\\dir\\a.exe"});
}

TEST_P(DirectoryWatcherTest, RenameInPlaceIsRenamedFromAndTo) {
    WriteText(m_sandbox.watched() / "old.txt", "x");
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{"1! C:\\old.txt"});
    fs::rename(m_sandbox.watched() / "old.txt", m_sandbox.watched() / "new.txt");
    EXPECT_EQ(collectUntilMarker(), (std::vector<std::string>{"4 C:\\old.txt", "5 C:\\new.txt"}));
}

TEST_P(DirectoryWatcherTest, AMoveBetweenFoldersIsRemovedAndAdded) {
    fs::create_directories(m_sandbox.watched() / "a");
    fs::create_directories(m_sandbox.watched() / "b");
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{});
    WriteText(m_sandbox.watched() / "a" / "f.bin", "x");
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{"1! C:\\a\\f.bin"});
    fs::rename(m_sandbox.watched() / "a" / "f.bin", m_sandbox.watched() / "b" / "f.bin");
    EXPECT_EQ(collectUntilMarker(),
              (std::vector<std::string>{"2 C:\\a\\f.bin", "1! C:\\b\\f.bin"}));
}

TEST_P(DirectoryWatcherTest, AFileMovedInFromOutsideIsAdded) {
    WriteText(m_sandbox.dir() / "outside.part", "x");
    fs::rename(m_sandbox.dir() / "outside.part", m_sandbox.watched() / "in.exe");
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{"1! C:\\in.exe"});
}

TEST_P(DirectoryWatcherTest, AFileStillBeingWrittenIsAddedAtItsClose) {
    std::ofstream out(m_sandbox.watched() / "slow.bin", std::ios::binary);
    out << "first half";
    out.flush();
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{});
    out << "second half";
    out.close();
    EXPECT_EQ(collectUntilMarker(), (std::vector<std::string>{"1! C:\\slow.bin"}));
}

TEST_P(DirectoryWatcherTest, AModifiedFileIsModifiedNotAdded) {
    WriteText(m_sandbox.watched() / "m.txt", "1");
    EXPECT_EQ(collectUntilMarker(), std::vector<std::string>{"1! C:\\m.txt"});
    WriteText(m_sandbox.watched() / "m.txt", "2");
    fs::remove(m_sandbox.watched() / "zz-marker1");
    EXPECT_EQ(collectUntilMarker(), (std::vector<std::string>{"3 C:\\m.txt", "2 C:\\zz-marker1"}));
}

TEST_P(DirectoryWatcherTest, AHardLinkIsAddedOnceItStaysUnchanged) {
    WriteText(m_sandbox.dir() / "source", "linked");
    fs::create_hard_link(m_sandbox.dir() / "source", m_sandbox.watched() / "link.exe");
    std::vector<std::string> seen;
    EXPECT_TRUE(WaitUntil([&] {
        ChangeNotification change;
        while (m_watcher->Wait(std::chrono::milliseconds(0)) && m_watcher->Next(change))
            seen.push_back(describe(change));
        return !seen.empty();
    }));
    EXPECT_EQ(seen, std::vector<std::string>{"1! C:\\link.exe"});
}

TEST_P(DirectoryWatcherTest, FilesInANewFolderTreeAreAddedOnce) {
    // Made at once with its folders, the file may be there before the
    // folders are watched: it is then announced once it stays unchanged.
    fs::create_directories(m_sandbox.watched() / "x" / "y");
    WriteText(m_sandbox.watched() / "x" / "y" / "deep.txt", "d");
    std::vector<std::string> seen;
    EXPECT_TRUE(WaitUntil([&] {
        ChangeNotification change;
        while (m_watcher->Wait(std::chrono::milliseconds(0)) && m_watcher->Next(change))
            seen.push_back(describe(change));
        return !seen.empty();
    }));
    std::vector<std::string> later = collectUntilMarker();
    seen.insert(seen.end(), later.begin(), later.end());
    EXPECT_EQ(seen, std::vector<std::string>{"1! C:\\x\\y\\deep.txt"});
}

TEST_P(DirectoryWatcherTest, ABurstThatFillsTheQueueHoldsTheWatchBackAndLosesNothing) {
    // Nothing is taken from the queue while the files are made: the watch
    // thread stops at the bound and the kernel keeps the rest, well within
    // its own queue.
    constexpr int kFiles = 1500;
    fs::create_directories(m_sandbox.watched() / "burst");
    for (int i = 0; i < kFiles; ++i)
        WriteText(m_sandbox.watched() / "burst" / std::to_string(i), "x");
    ovsvc::ChangeQueue& queue = m_watcher->Queue();
    ASSERT_TRUE(WaitUntil([&] { return queue.waitingProducers() > 0; }))
        << queue.size() << " queued";
    EXPECT_EQ(queue.size(), queue.maximum());
    EXPECT_FALSE(queue.Overflowed());
    std::set<std::u16string> added;
    auto drained = [&] {
        ChangeNotification change;
        while (m_watcher->Wait(std::chrono::milliseconds(0)) && m_watcher->Next(change))
            if (change.action == 1 && change.check) added.insert(change.path);
        return added.size() >= static_cast<size_t>(kFiles);
    };
    ASSERT_TRUE(WaitUntil(drained)) << added.size() << " of " << kFiles << " added";
    EXPECT_EQ(m_losses.load(), 0);
    EXPECT_FALSE(queue.Overflowed());
}

TEST_P(DirectoryWatcherTest, LostKernelEventsAreCaughtUpByAWalk) {
    // Nothing is taken from the queue while the files are made: the watch
    // thread stops at 1000 entries and the kernel's own queue overflows.
    long limit = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    if (limit > 40000) GTEST_SKIP() << "the kernel's event queue is too large to fill here";
    // Past the kernel's queue by more than the watch thread takes in before
    // it stops (the 1000 queued, what it read meanwhile): fanotify merges a
    // file's creation and close into one event.
    const int files = static_cast<int>(limit) + 6000;
    fs::create_directories(m_sandbox.watched() / "burst");
    for (int i = 0; i < files; ++i)
        WriteText(m_sandbox.watched() / "burst" / std::to_string(i), "x");
    std::set<std::u16string> added;
    ASSERT_TRUE(WaitUntil(
        [&] {
            ChangeNotification change;
            while (m_watcher->Wait(std::chrono::milliseconds(0)) && m_watcher->Next(change))
                if (change.action == 1 && change.check) added.insert(change.path);
            return added.size() >= static_cast<size_t>(files);
        },
        std::chrono::seconds(240)))
        << added.size() << " of " << files << " added, " << m_losses << " losses";
    EXPECT_GE(m_losses.load(), 1) << "the kernel queue never overflowed";
    EXPECT_EQ(m_truncated.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, DirectoryWatcherTest,
                         ::testing::Values(Backend::Inotify, Backend::Fanotify),
                         [](const auto& info) {
                             return info.param == Backend::Inotify ? "Inotify" : "Fanotify";
                         });

}  // namespace
}  // namespace svctest
