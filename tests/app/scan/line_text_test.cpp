#include "app/scan/line_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

// Every length up to a few blocks, at every position of a 16-byte block,
// with breaks and one unit beyond ASCII anywhere: the same as unit by unit.
TEST(LineText, AgreesWithUnitByUnitAtEveryLengthAndPlace) {
    std::mt19937 rng(3);
    alignas(16) char16_t buffer[64];
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 0; offset + length + 1 <= 64; ++length) {
            for (int variant = 0; variant < 3; ++variant) {
                char16_t* text = buffer + offset;
                for (auto& c : buffer) c = u'x';  // past the text: not zero
                for (size_t i = 0; i < length; ++i) {
                    const unsigned pick = rng() % 16;
                    text[i] = pick == 0   ? u'\n'
                              : pick == 1 ? u'\r'
                                          : static_cast<char16_t>(u' ' + rng() % 95);
                }
                if (variant == 1 && length > 0) text[rng() % length] = u'\u00e9';
                if (variant == 2 && length > 0) text[rng() % length] = u'\u4e2d';
                text[length] = 0;
                ASSERT_EQ(UnitsBeforeZero(text), length) << offset << " " << length;
                std::vector<char> out(length + 1, '#');
                const bool ascii = NarrowAsciiLine(text, length, out.data());
                EXPECT_EQ(ascii, variant == 0 || length == 0) << offset << " " << length;
                if (!ascii) continue;
                for (size_t i = 0; i < length; ++i) {
                    const char expected =
                        text[i] == u'\n' || text[i] == u'\r' ? '?' : static_cast<char>(text[i]);
                    ASSERT_EQ(out[i], expected) << offset << " " << length << " at " << i;
                }
                EXPECT_EQ(out[length], '#') << "nothing written past the text";
            }
        }
    }
}
