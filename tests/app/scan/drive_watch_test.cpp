#include "app/scan/drive_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "app/scan/app_sandbox_support.h"
#include "platform/path.h"

namespace {

// The watch reads the drive list, waits, reads it again. The drive is
// mapped right after one of the first reads, so the comparison that follows
// must see it: no timing decides the outcome.
TEST(DriveWatch, AnnouncesADriveMappedWhileItRuns) {
    apptest::AppSandbox box;
    const auto folder = box.root / "usb";
    std::filesystem::create_directories(folder);
    std::atomic<int> reads{0};
    std::atomic<bool> mapped{false};
    std::mutex lock;
    std::vector<std::u16string> announced;
    std::vector<std::u16string> logged;
    {
        DriveWatch watch(
            [&](const std::u16string& text) {
                std::lock_guard<std::mutex> guard(lock);
                announced.push_back(text);
            },
            [&](const char16_t* text) {
                std::lock_guard<std::mutex> guard(lock);
                logged.push_back(text);
            },
            std::chrono::milliseconds(20),
            [&] {
                std::u16string strings = platform::logicalDriveStrings();
                if (++reads == 3) mapped = box.mapDrive('Q', folder);
                return strings;
            });
        ASSERT_TRUE(watch.start());
        ASSERT_TRUE(apptest::WaitFor(
            [&] {
                std::lock_guard<std::mutex> guard(lock);
                return !announced.empty();
            },
            {}, std::chrono::seconds(60)));
        watch.stop();
    }
    ASSERT_TRUE(mapped);
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0], u"Found New Added Device: Q:\\");
    EXPECT_EQ(logged, std::vector<std::u16string>{u"ExtDevThread"});
}

TEST(DriveWatch, StopsAtOnceAndReportsNothingWithoutChange) {
    int announcements = 0;
    DriveWatch watch([&](const std::u16string&) { ++announcements; }, {}, std::chrono::hours(1));
    ASSERT_TRUE(watch.start());
    EXPECT_TRUE(watch.running());
    watch.stop();  // the hour-long wait ends now; the destructor joins
    EXPECT_TRUE(apptest::WaitFor([&] { return !watch.running(); }, {}));
    EXPECT_EQ(announcements, 0);
}

}  // namespace
