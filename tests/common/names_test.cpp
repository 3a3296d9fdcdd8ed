#include <gtest/gtest.h>

#include "common/digest_text.h"
#include "common/scan_codes.h"

TEST(DigestText, UpperAndLowerForms) {
    // MD5 of no bytes.
    const uint8_t empty[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                               0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    EXPECT_EQ(names::digestTextUpper(empty), u"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(names::digestTextLower(empty), u"d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_TRUE(names::isDigestText("d41d8cd98f00b204e9800998ecf8427E"));
    EXPECT_FALSE(names::isDigestText("d41d8cd98f00b204e9800998ecf8427"));
    EXPECT_FALSE(names::isDigestText("g41d8cd98f00b204e9800998ecf8427e"));
}

TEST(JobStatus, EveryCodeHasItsText) {
    const std::pair<int32_t, std::u16string> cases[] = {
        {1224, u"Active"},    {1225, u"Not Active"},        {1226, u"Running"},
        {1227, u"Finish OK"}, {1228, u"Finish With Error"}, {1229, u"Done!"},
        {1230, u"Error"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(names::jobStatusText(code), text) << code;
    EXPECT_EQ(names::jobStatusText(1231), nullptr);
}
