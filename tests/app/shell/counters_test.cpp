#include "app/shell/counters.h"

#include <gtest/gtest.h>

namespace {

TEST(ScanTimeCounter, CountsSecondsMinutesAndUnboundedHours) {
    ScanTimeCounter counter;
    EXPECT_EQ(counter.Text(), u"00:00:00");
    EXPECT_EQ(counter.Tick(), u"00:00:01");
    for (int i = 1; i < 59; ++i) counter.Tick();
    EXPECT_EQ(counter.Tick(), u"00:01:00");
    for (int i = 0; i < 3600 * 100 - 61; ++i) counter.Tick();
    EXPECT_EQ(counter.Tick(), u"100:00:00");
    counter.Reset();
    EXPECT_EQ(counter.Text(), u"00:00:00");
}

TEST(GenMsgCountdown, RunsFromThirtyToZeroThenCloses) {
    std::u16string text = kGenMsgFirstText;
    std::u16string next;
    bool known = false;
    int steps = 0;
    while (NextGenMsgText(text, next, known) == GenMsgStep::Continue) {
        ASSERT_TRUE(known) << steps;
        text = next;
        ++steps;
        ASSERT_LE(steps, 30);
    }
    EXPECT_EQ(steps, 30);
    EXPECT_EQ(text, u"OK(0)");
}

TEST(GenMsgCountdown, TextOutsideTheSequenceStopsTheCount) {
    std::u16string next;
    bool known = true;
    for (const char16_t* text : {u"OK", u"OK(31)", u"OK(-1)", u"", u"ok(5)"}) {
        EXPECT_EQ(NextGenMsgText(text, next, known), GenMsgStep::Continue);
        EXPECT_FALSE(known);
        EXPECT_TRUE(next.empty());
    }
}

}  // namespace
