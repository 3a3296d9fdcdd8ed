// The platform's change notifications on real files, each backend the
// machine allows.
#include "platform/dirwatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/path.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace {

using platform::ChangeKind;
using platform::DirectoryEvent;
using platform::DirectoryWatch;
namespace fs = std::filesystem;

const char* kindName(ChangeKind kind) {
    switch (kind) {
        case ChangeKind::Created:
            return "created";
        case ChangeKind::Deleted:
            return "deleted";
        case ChangeKind::ClosedAfterWrite:
            return "closed";
        case ChangeKind::MovedFrom:
            return "from";
        case ChangeKind::MovedTo:
            return "to";
        case ChangeKind::Found:
            return "found";
        case ChangeKind::Lost:
            return "lost";
    }
    return "?";
}

class DirwatchTest : public ::testing::TestWithParam<DirectoryWatch::Backend> {
protected:
    void SetUp() override {
        m_root = platform::toWindowsPath(m_folder.host());
        uint32_t rc = DirectoryWatch::open(m_root, true, GetParam(), m_watch);
        if (rc == 50) GTEST_SKIP() << "fanotify is not permitted here; the inotify path runs";
        ASSERT_EQ(rc, 0u);
        EXPECT_EQ(m_watch.backend(), GetParam());
    }

    // Events (kind and path below the root) until one for name arrives.
    std::vector<std::string> until(const std::u16string& last, ChangeKind kind) {
        std::vector<std::string> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            std::vector<DirectoryEvent> events;
            if (m_watch.read(events, 200) != 0) continue;
            for (const DirectoryEvent& event : events) {
                std::u16string relative =
                    event.path.substr(std::min(event.path.size(), m_root.size()));
                out.push_back(std::string(kindName(event.kind)) + (event.isFolder ? "/" : "") +
                              (event.cookie ? "*" : "") + " " + platform::toUtf8(relative));
                if (event.kind == kind && relative == last) return out;
            }
        }
        return out;
    }

    ovtest::TempFolder m_folder;
    std::u16string m_root;
    DirectoryWatch m_watch;
};

TEST_P(DirwatchTest, CreateWriteRenameDelete) {
    m_folder.writeFile("a.txt", "x");
    fs::rename(m_folder.host("a.txt"), m_folder.host("b.txt"));
    fs::remove(m_folder.host("b.txt"));
    EXPECT_EQ(until(u"\\b.txt", ChangeKind::Deleted),
              (std::vector<std::string>{"created \\a.txt", "closed \\a.txt", "from* \\a.txt",
                                        "to* \\b.txt", "deleted \\b.txt"}));
}

TEST_P(DirwatchTest, NewFoldersAreWatchedToo) {
    m_folder.makeFolder("sub");
    m_folder.makeFolder("sub/deeper");
    m_folder.writeFile("sub/deeper/f", "x");
    // Made before its folder was watched, it is reported as created by the
    // look into the new folder; made after, by the kernel.
    std::vector<std::string> seen = until(u"\\sub\\deeper\\f", ChangeKind::Created);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "created \\sub\\deeper\\f");
}

TEST_P(DirwatchTest, CancelEndsAWaitingRead) {
    std::vector<DirectoryEvent> events;
    m_watch.cancel();
    EXPECT_EQ(m_watch.read(events, -1), 1223u);
}

TEST_P(DirwatchTest, EventsOutsideTheTreeAreLeftOut) {
    ovtest::TempFolder other;
    other.writeFile("elsewhere", "x");
    m_folder.writeFile("inside", "x");
    for (const std::string& line : until(u"\\inside", ChangeKind::ClosedAfterWrite))
        EXPECT_EQ(line.find("elsewhere"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Backends, DirwatchTest,
                         ::testing::Values(DirectoryWatch::Backend::Inotify,
                                           DirectoryWatch::Backend::Fanotify),
                         [](const auto& info) {
                             return info.param == DirectoryWatch::Backend::Inotify ? "Inotify"
                                                                                   : "Fanotify";
                         });

TEST(Dirwatch, AMissingFolderCannotBeWatched) {
    DirectoryWatch watch;
    ovtest::TempFolder folder;
    EXPECT_EQ(DirectoryWatch::open(folder.windows(u"missing"), true,
                                   DirectoryWatch::Backend::Automatic, watch),
              3u);
    folder.writeFile("file", "x");
    EXPECT_EQ(DirectoryWatch::open(folder.windows(u"file"), true,
                                   DirectoryWatch::Backend::Automatic, watch),
              267u);
}

}  // namespace
