#include <gtest/gtest.h>

#include "platform/text.h"

using platform::format16;

TEST(Text, InvalidUtf8RoundTripsThroughLoneSurrogates) {
    const std::string cases[] = {
        "plain", "caf\xc3\xa9", "bad\xff\xfe", "\xc0\xaf", "cut\xe2\x82", "\xf0\x9f\x98\x80",
        std::string("nul\0in", 6),
    };
    for (const auto& s : cases) EXPECT_EQ(platform::toUtf8(platform::toUtf16(s)), s);
    EXPECT_EQ(platform::toUtf16("a\xff"), std::u16string(u"a\xDCFF"));
    // A surrogate that is not an escaped byte cannot go to UTF-8 as itself.
    EXPECT_EQ(platform::toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, Format16AsWindowsWidePrintf) {
    const char16_t* nullText = nullptr;
    EXPECT_EQ(format16(u"%s|%d|%u|%c", u"x", -5, 7u, u'z'), u"x|-5|7|z");
    EXPECT_EQ(format16(u"[%s]", nullText), u"[(null)]");
    EXPECT_EQ(format16(u"%02d/%04d %5s|%-3d|", 7, 26, u"ab", 1), u"07/0026    ab|1  |");
    EXPECT_EQ(format16(u"%x %X %%", 255u, 255u), u"ff FF %");
    EXPECT_EQ(format16(u"%hs", "narrow"), u"narrow");
    EXPECT_EQ(format16(u"100%"), u"100%");
}

TEST(Text, CaseHelpers) {
    char16_t path[] = u"C:\\Dir\\FILE.ZIP";
    platform::lowerInPlace(path, 2048);
    EXPECT_EQ(std::u16string(path), u"c:\\dir\\file.zip");
    EXPECT_TRUE(platform::equalsIgnoreCase(u"Orvane_1.LOG", u"orvane_1.log"));
}
