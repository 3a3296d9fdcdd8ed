#include "app/shell/app_log.h"

#include <gtest/gtest.h>

#include <chrono>

#include "app/shell/shell_test_support.h"
#include "platform/text.h"

namespace {

using namespace std::chrono;

// 12 June 2026 21:25:18 UTC.
sys_seconds fixedMoment() {
    return sys_days{year{2026} / June / 12} + hours{21} + minutes{25} + seconds{18};
}

class AppLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        gAppLog.Reset();
        logPath = folder.path() / "app.log";
    }
    void TearDown() override { gAppLog.Reset(); }

    void openFixed() {
        const std::u16string name = folder.windows("app.log");
        ASSERT_EQ(gAppLog.Open(name.c_str()), 0);
        gAppLog.SetClock([] { return system_clock::time_point(fixedMoment()); });
    }

    std::string afterBanner() {
        const std::string bytes = readBytes(logPath);
        return bytes.substr(std::min<size_t>(bytes.size(), 306 * 2));
    }

    TempFolder folder;
    std::filesystem::path logPath;
};

TEST_F(AppLogTest, BannerIsExactUtf16WithoutByteOrderMark) {
    openFixed();
    const std::u16string expected =
        u"   ############################################\n"
        u"   #                                          #\n"
        u"   #         Orvane log file                  #\n"
        u"   #                                          #\n"
        u"   #                                          #\n"
        u"   ############################################\n"
        u"\n"
        u"\n"
        u"Log Starting...\n";
    ASSERT_EQ(expected.size(), 306u);
    EXPECT_EQ(CAppLog::Banner(), expected);
    EXPECT_EQ(readBytes(logPath), utf16le(expected));
}

TEST_F(AppLogTest, LineCarriesUtcStampAndTagOfItsLevel) {
    struct Case {
        int32_t level;
        const char16_t* tag;
    };
    const Case cases[] = {
        {LOG_INFO, u" [INFO] "},     {LOG_WARNING, u" [WARNING] "}, {LOG_DEBUG, u" [DEBUG] "},
        {LOG_DEBUG_2, u" [DEBUG] "}, {LOG_ERROR, u" [ERROR] "},     {42, u" [INFO] "},
    };
    openFixed();
    std::u16string expected;
    for (const Case& c : cases) {
        gAppLog.level = c.level;
        EXPECT_EQ(gAppLog.Write(u"In %s %d", u"CheckServiceState", c.level), 0);
        gAppLog.level = LOG_INFO;
        expected += u"06-12-2026 21:25:18" + std::u16string(c.tag) + u"In CheckServiceState " +
                    platform::ascii16(std::to_string(c.level)) + u"\n";
    }
    EXPECT_EQ(afterBanner(), utf16le(expected));
}

TEST_F(AppLogTest, EmptyFormatIsRefusedEvenWhileEnabled) {
    openFixed();
    EXPECT_EQ(gAppLog.Write(u""), -1);
    EXPECT_EQ(gAppLog.Write(nullptr), -1);
    EXPECT_EQ(afterBanner(), "");
}

TEST_F(AppLogTest, WritesAfterFailedOpenReturnMinusTwo) {
    const std::u16string name = folder.windows("missing-folder/app.log");
    EXPECT_EQ(gAppLog.Open(name.c_str()), -1);
    EXPECT_FALSE(gAppLog.IsEnabled());
    EXPECT_EQ(gAppLog.Write(u"In %s", u"Anything"), -2);
    EXPECT_EQ(gAppLog.Write(u""), -1);  // the format is judged first
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing-folder"));
    // Reset gives a fresh log that can be opened again.
    gAppLog.Reset();
    EXPECT_TRUE(gAppLog.IsEnabled());
    openFixed();
    EXPECT_EQ(gAppLog.Write(u"x"), 0);
}

TEST_F(AppLogTest, HugeMessageIsCutAndKeepsItsLineFeed) {
    openFixed();
    const std::u16string huge(5000, u'A');
    // Format "%s" has 2 characters: its buffer holds 2*2+1024 units, line
    // feed and terminating zero included, so 1026 characters of message.
    EXPECT_EQ(gAppLog.Write(u"%s", huge.c_str()), 0);
    EXPECT_EQ(gAppLog.Write(u"next"), 0);
    const std::u16string expected = u"06-12-2026 21:25:18 [INFO] " + std::u16string(1026, u'A') +
                                    u"\n06-12-2026 21:25:18 [INFO] next\n";
    EXPECT_EQ(afterBanner(), utf16le(expected));
}

TEST_F(AppLogTest, CutNeverSplitsASurrogatePair) {
    openFixed();
    // 1025 letters then a pair: the cut at 1026 units would halve the pair.
    std::u16string text(1025, u'B');
    text += u"\U0001F600tail";
    EXPECT_EQ(gAppLog.Write(u"%s", text.c_str()), 0);
    const std::u16string expected =
        u"06-12-2026 21:25:18 [INFO] " + std::u16string(1025, u'B') + u"\n";
    EXPECT_EQ(afterBanner(), utf16le(expected));
}

TEST_F(AppLogTest, StampIsUtcWhateverTheLocalZone) {
    // 23:30 in a zone east of UTC is an earlier hour in UTC: the stamp is
    // built from the UTC moment, never from local time.
    setenv("TZ", "Asia/Tokyo", 1);
    const auto moment = sys_days{year{2026} / March / 5} + hours{7} + minutes{8} + seconds{9};
    EXPECT_EQ(CAppLog::LinePrefix(moment, LOG_INFO), u"03-05-2026 07:08:09 [INFO] ");
    unsetenv("TZ");
}

TEST_F(AppLogTest, WriteBeforeOpenWritesNothing) {
    EXPECT_EQ(gAppLog.Write(u"In %s", u"Early"), 0);
    EXPECT_TRUE(gAppLog.Path().empty());
}

TEST_F(AppLogTest, OpenWithoutNameUsesErrorsLog) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    EXPECT_EQ(gAppLog.Open(nullptr), 0);
    EXPECT_EQ(gAppLog.Path(), u"errors.log");
    gAppLog.Reset();
    std::filesystem::current_path(previous);
    EXPECT_EQ(readBytes(folder.path() / "errors.log").size(), 306u * 2);
}

}  // namespace
