#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "common/scan_codes.h"
#include "engine/engine_test_support.h"
#include "platform/coarse_clock.h"

using enginetest::Message;
using enginetest::Recorder;
using enginetest::RequestScope;

namespace {

std::vector<std::u16string> Traces(const std::vector<Message>& messages) {
    std::vector<std::u16string> out;
    for (const Message& m : messages)
        if (m.code == SCANMSG_DEBUG) out.push_back(m.text);
    return out;
}

const std::vector<std::u16string> kFormattedTraces = {
    u"SendOVMsg Start",    u"SendOVMsg Step 1",   u"SendOVMsg Step 1.1", u"SendOVMsg Step 1.2",
    u"SendOVMsg Step 1.3", u"SendOVMsg Step 1.4", u"SendOVMsg Step 3",   u"SendOVMsg Step 4",
};
const std::vector<std::u16string> kVerbatimTraces = {
    u"SendOVMsg Start",  u"SendOVMsg Step 2", u"SendOVMsg Step 2.2",
    u"SendOVMsg Step 3", u"SendOVMsg Step 4",
};

}  // namespace

TEST(SendOVMsg, FormatsAndDeliversBetweenItsTraces) {
    Recorder recorder;
    RequestScope scope(recorder);
    EXPECT_EQ(SendOVMsg(SCANMSG_REPORT_LINE, u" Infected Generic %s: %s [%s].", u"Malware",
                        u"C:\\x.exe", nullptr),
              static_cast<int32_t>(SCANMSG_REPORT_LINE));
    auto messages = recorder.messages();
    ASSERT_EQ(messages.size(), 9u);
    EXPECT_EQ(Traces(messages), kFormattedTraces);
    // The message itself comes between "Step 3" and "Step 4".
    EXPECT_EQ(messages[7].code, SCANMSG_REPORT_LINE);
    EXPECT_EQ(messages[7].text, u" Infected Generic Malware: C:\\x.exe [(null)].");
    EXPECT_EQ(messages[8].text, u"SendOVMsg Step 4");
}

TEST(SendOVMsg, EscapedPlusGoesOutVerbatimWithItsPlaceholders) {
    Recorder recorder;
    RequestScope scope(recorder);
    SendOVMsg(SCANMSG_STATUS, u"https://host/q?a=1%2b2&n=%s&c=%d", u"never", 5);
    auto messages = recorder.messages();
    EXPECT_EQ(Traces(messages), kVerbatimTraces);
    EXPECT_EQ(recorder.texts(SCANMSG_STATUS),
              (std::vector<std::u16string>{u"https://host/q?a=1%2b2&n=%s&c=%d"}));
}

TEST(SendOVMsg, LengthLimits) {
    struct Case {
        const char* name;
        bool verbatim;
        size_t units;
        bool delivered;
    };
    const Case cases[] = {
        {"formatted 4095", false, 4095, true},
        {"formatted 4096", false, 4096, false},
        {"verbatim 8191", true, 8191, true},
        {"verbatim 8192", true, 8192, false},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        RequestScope scope(recorder);
        std::u16string text(c.units, u'a');
        if (c.verbatim) {
            text.replace(0, 3, u"%2b");
            SendOVMsg(SCANMSG_INFECTED_TEXT, text.c_str());
        } else {
            SendOVMsg(SCANMSG_INFECTED_TEXT, u"%s", text.c_str());
        }
        EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TEXT), c.delivered ? 1u : 0u) << c.name;
        EXPECT_EQ(Traces(recorder.messages()), c.verbatim ? kVerbatimTraces : kFormattedTraces)
            << c.name;
        if (c.delivered) {
            EXPECT_EQ(recorder.texts(SCANMSG_INFECTED_TEXT)[0], text) << c.name;
        }
    }
}

TEST(SendOVMsg, CodeZeroReachesTheWindow) {
    Recorder recorder;
    RequestScope scope(recorder);
    SendOVMsg(SCANMSG_STATUS, u"Scan thread error %d", 11);
    EXPECT_TRUE(recorder.contains(SCANMSG_STATUS, u"Scan thread error 11"));
}

TEST(SendOVMsg, ADebugMessageCostsEightTracesBesideItself) {
    Recorder recorder;
    RequestScope scope(recorder);
    SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step %d", 1);
    auto messages = recorder.messages();
    ASSERT_EQ(messages.size(), 9u);
    for (const Message& m : messages) EXPECT_EQ(m.code, SCANMSG_DEBUG);
    EXPECT_EQ(messages[7].text, u" ScanHashData, step 1");
}

TEST(SendOVMsg, NothingIsSentWithoutAWindow) {
    Recorder recorder;
    ScanRequest request{};
    SetCurrentRequest(&request);
    EXPECT_EQ(SendOVMsg(SCANMSG_STATUS, u"x"), 0);
    SetCurrentRequest(nullptr);
    EXPECT_EQ(SendOVMsg(SCANMSG_STATUS, u"x"), 0);
    EXPECT_TRUE(recorder.messages().empty());
}

TEST(SendOVMsg, SendsFromTwoThreadsKeepTheirOwnTexts) {
    Recorder recorder;
    RequestScope scope(recorder);
    auto send = [](const char16_t* who) {
        for (int i = 0; i < 200; ++i) SendOVMsg(SCANMSG_CURRENT_FILE, u"%s %d", who, i);
    };
    std::thread a(send, u"scan-thread"), b(send, u"stop-thread");
    a.join();
    b.join();
    auto texts = recorder.texts(SCANMSG_CURRENT_FILE);
    ASSERT_EQ(texts.size(), 400u);
    int a_next = 0, b_next = 0;
    for (const auto& t : texts) {
        if (t.rfind(u"scan-thread ", 0) == 0)
            EXPECT_EQ(t, u"scan-thread " + enginetest::U16(std::to_string(a_next++)));
        else
            EXPECT_EQ(t, u"stop-thread " + enginetest::U16(std::to_string(b_next++)));
    }
    EXPECT_EQ(a_next, 200);
    EXPECT_EQ(b_next, 200);
}

namespace {

// Waits for the coarse clock's next tick, so that what follows starts one.
void NextTick() {
    const int64_t now = platform::coarseMonotonicMs();
    while (platform::coarseMonotonicMs() == now) std::this_thread::yield();
}

}  // namespace

// A receiver that keeps no trace texts says so; the channel then builds and
// sends no trace, and nothing but traces is held back.
TEST(SendOVMsg, TracesGoOnlyToAReceiverThatWantsThem) {
    Recorder recorder;
    RequestScope scope(recorder);
    bool wantTraces = false;
    int asked = 0;
    platform::setMessageInterest(recorder.window(), [&](uint32_t code) {
        ++asked;
        return code != SCANMSG_DEBUG || wantTraces;
    });
    // Sent within one tick of the coarse clock, or tried again.
    auto inOneTick = [&](const std::function<void()>& sends) {
        for (;;) {
            NextTick();
            recorder.clear();
            asked = 0;
            const int64_t tick = platform::coarseMonotonicMs();
            sends();
            if (platform::coarseMonotonicMs() == tick) return;
        }
    };
    inOneTick([&] {
        SendOVMsg(SCANMSG_DEBUG, u"a trace of %s", u"C:\\x.exe");
        SendOVMsg(SCANMSG_REPORT_LINE, u"line %d", 1);
    });
    EXPECT_EQ(asked, 1) << "asked once, before the first text is built; the answer kept";
    auto messages = recorder.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, SCANMSG_REPORT_LINE);
    EXPECT_EQ(messages[0].text, u"line 1");

    // A change of mind within the tick is seen from the next tick on.
    wantTraces = true;
    inOneTick([&] {
        SendOVMsg(SCANMSG_DEBUG, u"a trace of %s", u"C:\\x.exe");
        wantTraces = false;
        SendOVMsg(SCANMSG_REPORT_LINE, u"line %d", 2);
        SendOVMsg(SCANMSG_DEBUG, u"still wanted");
    });
    messages = recorder.messages();
    ASSERT_EQ(messages.size(), 27u);
    EXPECT_EQ(messages[7].text, u"a trace of C:\\x.exe");
    EXPECT_EQ(messages[18 + 7].text, u"still wanted");
    NextTick();
    recorder.clear();
    SendOVMsg(SCANMSG_DEBUG, u"declined");
    EXPECT_TRUE(recorder.messages().empty());
}
