// The queue between the watch thread and the service thread.
#include "service/change_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace ovsvc {
namespace {

using std::chrono::milliseconds;

TEST(ChangeQueue, EntriesComeOutInOrderAndTheCountFollowsThem) {
    ChangeQueue queue;
    std::atomic<bool> stop{false};
    ASSERT_TRUE(queue.Push({1, u"C:\\a", true}, stop));
    ASSERT_TRUE(queue.Push({2, u"C:\\b", false}, stop));
    EXPECT_EQ(queue.size(), 2u);
    ASSERT_TRUE(queue.Wait(milliseconds(0)));
    ChangeNotification change;
    ASSERT_TRUE(queue.Next(change));
    EXPECT_EQ(change.action, 1u);
    EXPECT_EQ(change.path, u"C:\\a");
    EXPECT_TRUE(change.check);
    ASSERT_TRUE(queue.Wait(milliseconds(0)));
    uint32_t action = 0;
    std::u16string path;
    ASSERT_TRUE(queue.Next(action, path));
    EXPECT_EQ(action, 2u);
    EXPECT_EQ(path, u"C:\\b");
    EXPECT_FALSE(queue.Wait(milliseconds(0)));
    EXPECT_FALSE(queue.Next(change));
}

TEST(ChangeQueue, NextOnAnEmptyListBringsTheCountToZero) {
    ChangeQueue queue;
    std::atomic<bool> stop{false};
    ASSERT_TRUE(queue.Push({1, u"C:\\a"}, stop));
    ChangeNotification change;
    ASSERT_TRUE(queue.Next(change));  // taken without a wait: one count left over
    EXPECT_FALSE(queue.Next(change));
    EXPECT_FALSE(queue.Wait(milliseconds(0)));
}

TEST(ChangeQueue, ClearQueueEmptiesTheListAndResetsTheFlag) {
    ChangeQueue queue(3);
    std::atomic<bool> stop{false};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.Push({3, u"C:\\m"}, stop));
    queue.MarkOverflow();
    queue.ClearQueue();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_FALSE(queue.Overflowed());
    EXPECT_FALSE(queue.Wait(milliseconds(0)));
}

// A full queue is no loss: the producer waits for room (and meanwhile takes
// nothing from the kernel), the overflow flag stays clear, and the entry it
// held comes out last.
TEST(ChangeQueue, AFullQueueHoldsTheProducerUntilThereIsRoomWithoutTheFlag) {
    ChangeQueue queue;
    EXPECT_EQ(queue.maximum(), 1000u);
    std::atomic<bool> stop{false};
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(queue.Push({1, u"C:\\f" + std::u16string(1, u'a' + i % 26)}, stop));
    std::atomic<bool> pushed{false};
    std::thread producer([&] { pushed = queue.Push({1, u"C:\\last"}, stop); });
    while (queue.waitingProducers() == 0) std::this_thread::yield();
    EXPECT_FALSE(pushed);
    EXPECT_EQ(queue.size(), 1000u);
    EXPECT_FALSE(queue.Overflowed());
    // The producer is woken once half the queue is free.
    ChangeNotification change;
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(queue.Next(change));
    producer.join();
    EXPECT_TRUE(pushed);
    EXPECT_EQ(queue.waitingProducers(), 0u);
    EXPECT_EQ(queue.size(), 501u);
    EXPECT_FALSE(queue.Overflowed());
    for (int i = 0; i < 501; ++i) ASSERT_TRUE(queue.Next(change));
    EXPECT_EQ(change.path, u"C:\\last");
}

TEST(ChangeQueue, AProducerWaitingForRoomGivesUpAtStop) {
    ChangeQueue queue(1);
    std::atomic<bool> stop{false};
    ASSERT_TRUE(queue.Push({1, u"C:\\a"}, stop));
    std::atomic<int> result{-1};
    std::thread producer([&] { result = queue.Push({1, u"C:\\b"}, stop) ? 1 : 0; });
    while (queue.waitingProducers() == 0) std::this_thread::yield();
    stop = true;
    queue.WakeProducers();
    producer.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(queue.size(), 1u);
}

}  // namespace
}  // namespace ovsvc
