#include "platform/message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"

using platform::ReceiverThreading;

TEST(WindowMessages, ThreadSafeReceiverGetsEachMessageInOrderOnTheSendersThread) {
    std::vector<std::pair<uint32_t, std::u16string>> got;
    std::thread::id caller;
    auto window = platform::createWindow([&](uint32_t code, const char16_t* text) -> intptr_t {
        got.emplace_back(code, text);
        caller = std::this_thread::get_id();
        return code + 1;
    });
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(platform::isWindow(window));
    EXPECT_EQ(platform::sendMessage(window, 0, u"first"), 1);
    EXPECT_EQ(platform::sendMessage(window, 101024, u"second"), 101025);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], (std::pair<uint32_t, std::u16string>{0, u"first"}));
    EXPECT_EQ(got[1], (std::pair<uint32_t, std::u16string>{101024, u"second"}));
    EXPECT_EQ(caller, std::this_thread::get_id());

    platform::destroyWindow(window);
    EXPECT_FALSE(platform::isWindow(window));
    platform::setLastError(0);
    EXPECT_EQ(platform::sendMessage(window, 5, u"late"), 0);
    EXPECT_EQ(platform::lastError(), platform::kErrorInvalidWindowHandle);
    EXPECT_EQ(got.size(), 2u);
}

TEST(WindowMessages, ConcurrentSendersToOneWindowNeverOverlap) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    int count = 0;
    auto window = platform::createWindow([&](uint32_t, const char16_t*) -> intptr_t {
        if (inside.fetch_add(1) != 0) overlapped = true;
        ++count;
        std::this_thread::yield();
        inside.fetch_sub(1);
        return 0;
    });
    std::vector<std::thread> senders;
    for (int i = 0; i < 4; ++i)
        senders.emplace_back([&] {
            for (int k = 0; k < 500; ++k) platform::sendMessage(window, 1, u"x");
        });
    for (auto& s : senders) s.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(count, 2000);
    platform::destroyWindow(window);
}

TEST(WindowMessages, OwnerThreadReceiverRunsOnTheOwnerWhileTheSenderWaits) {
    std::vector<std::u16string> got;
    std::thread::id runOn;
    auto window = platform::createWindow(
        [&](uint32_t code, const char16_t* text) -> intptr_t {
            got.emplace_back(text);
            runOn = std::this_thread::get_id();
            return static_cast<intptr_t>(code) * 2;
        },
        ReceiverThreading::OwnerThread);

    // The owner itself is served at once.
    EXPECT_EQ(platform::sendMessage(window, 4, u"own"), 8);

    std::atomic<bool> finished{false};
    intptr_t results[3] = {};
    std::thread sender([&] {
        results[0] = platform::sendMessage(window, 1, u"a");
        results[1] = platform::sendMessage(window, 2, u"b");
        results[2] = platform::sendMessage(window, 3, u"c");
        finished = true;
    });
    int handled = 0;
    while (!finished) handled += platform::pumpWindowMessages(20);
    sender.join();
    EXPECT_EQ(handled, 3);
    EXPECT_EQ(got, (std::vector<std::u16string>{u"own", u"a", u"b", u"c"}));
    EXPECT_EQ(runOn, std::this_thread::get_id());
    EXPECT_EQ(results[0], 2);
    EXPECT_EQ(results[2], 6);
    platform::destroyWindow(window);
}

TEST(WindowMessages, DestroyingAWindowReleasesItsWaitingSenders) {
    auto window = platform::createWindow([](uint32_t, const char16_t*) -> intptr_t { return 7; },
                                         ReceiverThreading::OwnerThread);
    std::atomic<bool> started{false};
    intptr_t result = -1;
    uint32_t error = 0;
    std::thread sender([&] {
        started = true;
        result = platform::sendMessage(window, 1, u"never handled");
        error = platform::lastError();
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::destroyWindow(window);
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, platform::kErrorInvalidWindowHandle);
}

TEST(WindowMessages, TwoOwnersSendingToEachOtherDoNotDeadlock) {
    platform::WindowHandle second = 0;
    std::atomic<bool> ready{false}, done{false};
    auto first = platform::createWindow(
        [&](uint32_t code, const char16_t*) -> intptr_t {
            // Handled on the main thread; calls back into the other owner.
            return platform::sendMessage(second, code + 1, u"back") + 1;
        },
        ReceiverThreading::OwnerThread);
    intptr_t result = 0;
    std::thread other([&] {
        second = platform::createWindow(
            [](uint32_t code, const char16_t*) -> intptr_t { return code * 10; },
            ReceiverThreading::OwnerThread);
        ready = true;
        result = platform::sendMessage(first, 1, u"go");
        done = true;
    });
    while (!ready) std::this_thread::yield();
    while (!done) platform::pumpWindowMessages(20);
    other.join();
    EXPECT_EQ(result, 21);
    platform::destroyWindow(first);
    platform::destroyWindow(second);
}

TEST(WindowMessages, AnInterestIsAdviceToSendersNotAFilter) {
    int received = 0;
    auto window = platform::createWindow([&](uint32_t, const char16_t*) -> intptr_t {
        ++received;
        return 0;
    });
    EXPECT_TRUE(platform::windowWantsMessage(window, 7)) << "no interest: every message";
    platform::setMessageInterest(window, [](uint32_t code) { return code != 7; });
    EXPECT_FALSE(platform::windowWantsMessage(window, 7));
    EXPECT_TRUE(platform::windowWantsMessage(window, 8));
    platform::sendMessage(window, 7, u"delivered all the same");
    EXPECT_EQ(received, 1);
    platform::destroyWindow(window);
    EXPECT_FALSE(platform::windowWantsMessage(window, 8)) << "a send would fail";
}

// A batch reaches the receiver whole and in order: another thread's
// messages come before or after it, never inside it.
TEST(WindowMessages, ABatchArrivesWholeWithNoOtherSendersMessageInside) {
    std::vector<uint32_t> got;
    auto window = platform::createWindow([&](uint32_t code, const char16_t*) -> intptr_t {
        got.push_back(code);
        std::this_thread::yield();
        return 0;
    });
    const platform::WindowMessage batch[] = {{1, u"a"}, {2, u"b"}, {3, u"c"}, {4, u"d"}};
    std::thread other([&] {
        for (int k = 0; k < 300; ++k) platform::sendMessage(window, 99, u"x");
    });
    for (int k = 0; k < 300; ++k) platform::sendMessages(window, batch, std::size(batch));
    other.join();
    ASSERT_EQ(got.size(), 300u * 5);
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] != 1) continue;
        ASSERT_LE(i + 4, got.size());
        EXPECT_EQ((std::vector<uint32_t>(got.begin() + i, got.begin() + i + 4)),
                  (std::vector<uint32_t>{1, 2, 3, 4}))
            << "at " << i;
    }
    platform::destroyWindow(window);
}

// A receiver that removes its own window (and then sends to another one)
// ends the batch there; to an owner thread's window a batch goes message
// by message, in order.
TEST(WindowMessages, ABatchStopsAtAWindowItsReceiverRemoved) {
    std::vector<uint32_t> got;
    int elsewhere = 0;
    auto other =
        platform::createWindow([&](uint32_t, const char16_t*) -> intptr_t { return ++elsewhere; });
    platform::WindowHandle window = 0;
    window = platform::createWindow([&](uint32_t code, const char16_t*) -> intptr_t {
        got.push_back(code);
        if (code == 2) {
            platform::destroyWindow(window);
            platform::sendMessage(other, 7, u"elsewhere");
        }
        return 0;
    });
    const platform::WindowMessage batch[] = {{1, u"a"}, {2, u"b"}, {3, u"c"}};
    platform::setLastError(0);
    platform::sendMessages(window, batch, std::size(batch));
    EXPECT_EQ(got, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(elsewhere, 1);
    EXPECT_EQ(platform::lastError(), platform::kErrorInvalidWindowHandle);
    platform::destroyWindow(other);

    std::vector<uint32_t> owned;
    auto ownerWindow = platform::createWindow(
        [&](uint32_t code, const char16_t*) -> intptr_t {
            owned.push_back(code);
            return 0;
        },
        ReceiverThreading::OwnerThread);
    std::atomic<bool> finished{false};
    std::thread sender([&] {
        platform::sendMessages(ownerWindow, batch, std::size(batch));
        finished = true;
    });
    while (!finished) platform::pumpWindowMessages(20);
    sender.join();
    EXPECT_EQ(owned, (std::vector<uint32_t>{1, 2, 3}));
    platform::destroyWindow(ownerWindow);
}
