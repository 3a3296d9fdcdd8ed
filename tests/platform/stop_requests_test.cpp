#include "platform/stop_requests.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Runs in a child of its own (a death test), where no other thread can take
// the signal before the object's thread does.
void stopThenEnd() {
    std::atomic<int> calls{0};
    std::atomic<int> signal{0};
    {
        platform::StopRequests requests([&](int received) {
            signal = received;
            ++calls;
        });
        ::kill(::getpid(), SIGTERM);
        for (int i = 0; i < 500 && calls == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (calls != 1 || signal != SIGTERM || requests.received() != SIGTERM) ::_exit(3);
    }
    // The destructor wakes its thread with a signal of its own: that is
    // not a stop request, for this object or a later one.
    {
        platform::StopRequests quiet([&](int) { ++calls; });
    }
    if (calls != 1) ::_exit(4);
    ::_exit(0);
}

TEST(StopRequestsDeathTest, ASignalCallsOnStopOnceAndTheEndIsNoStopRequest) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(stopThenEnd(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
