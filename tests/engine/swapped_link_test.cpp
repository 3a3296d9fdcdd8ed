// A walk while a folder of the tree keeps being swapped with a link to a
// folder outside it: nothing outside the tree is ever opened or reported.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/walker_sandbox_support.h"

namespace {

namespace fs = std::filesystem;
using namespace walker_test;

// Counts the opens of a folder and of the files in it (inotify).
class OpenWatch {
public:
    explicit OpenWatch(const fs::path& folder) {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0) m_watch = ::inotify_add_watch(m_fd, folder.c_str(), IN_OPEN);
    }
    ~OpenWatch() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool watching() const { return m_fd >= 0 && m_watch >= 0; }
    // Opens seen since the last call (and since the watch began).
    int opens() {
        int seen = 0;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0) break;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN) ++seen;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return seen;
    }

private:
    int m_fd = -1;
    int m_watch = -1;
};

TEST(SwappedLink, AFolderSwappedWithALinkDuringTheWalkNeverLeadsOutOfTheTree) {
    ScanSandbox box;
    const fs::path drive = box.folder("drive");
    if (!box.mapDrive('X', drive))
        GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
    // Inside the tree the names of the outside folder, with clean content;
    // outside, the same names with content the database knows.
    const fs::path sub = drive / "sub";
    const fs::path outside = box.folder("outside");
    const fs::path park = box.folder("park");
    for (int i = 0; i < 20; ++i) {
        const std::string name = "evil" + std::to_string(i) + ".exe";
        box.write(sub / name, "clean inside " + name);
        box.plant(outside / name, "known bad outside " + name);
    }
    box.write(drive / "before.txt", "listed before the folder");
    box.write(drive / "zafter.txt", "listed after the folder");
    box.setSetting(names::kSmartExt, 0);
    fs::create_directory_symlink(outside, park / "link");

    OpenWatch watch(outside);
    if (!watch.watching()) GTEST_SKIP() << "inotify is not available here";

    std::atomic<bool> stop{false};
    std::atomic<long> swaps{0};
    std::thread swapper([&] {
        // Each step is one rename: sub is always either the folder or the link.
        while (!stop) {
            fs::rename(sub, park / "folder");
            fs::rename(park / "link", sub);
            fs::rename(sub, park / "link");
            fs::rename(park / "folder", sub);
            ++swaps;
        }
    });
    int walks = 0;
    int infected = 0;
    int reported = 0;
    for (; walks < 60; ++walks) {
        ScanRecord record = box.runFull(u"X:\\");
        infected += record.count(SCANMSG_INFECTED_TICK);
        reported += static_cast<int>(record.reportLines.size());
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 0);
    EXPECT_EQ(infected, 0) << "in " << walks << " walks";
    EXPECT_EQ(reported, 0);
    EXPECT_EQ(watch.opens(), 0) << "a file or the folder outside the tree was opened";
}

}  // namespace
