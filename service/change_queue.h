// The bounded queue between the watch thread (producer) and the service
// thread (consumer): a first-in-first-out list under a lock, a count that
// follows the number of queued entries so that the consumer can wait
// without holding the lock, and an overflow flag.
//
// Nothing is dropped: a producer that finds the queue full sets the
// overflow flag and waits for room, so the changes behind it stay in the
// kernel's buffer instead of being lost.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace ovsvc {

struct ChangeNotification {
    uint32_t action = 0;  // 1 added, 2 removed, 3 modified, 4 renamed (old), 5 renamed (new)
    std::u16string path;  // full Windows path
    bool check = false;   // an added file whose writer has finished
};

class ChangeQueue {
public:
    static constexpr size_t kDefaultMaximum = 1000;

    explicit ChangeQueue(size_t maximum = kDefaultMaximum) : m_maximum(maximum) {}

    // Appends; while the queue is full, sets the overflow flag and waits for
    // room. false (nothing appended) when stop became true meanwhile.
    bool Push(ChangeNotification change, const std::atomic<bool>& stop);
    // Wakes a producer waiting for room (to see its stop flag).
    void WakeProducers();

    // The consumer's wait: takes one count, waiting up to timeout for one.
    bool Wait(std::chrono::milliseconds timeout);

    bool Overflowed() const { return m_overflowed.load(); }
    void ResetOverflow() { m_overflowed = false; }
    // Sets the flag from outside (a loss the kernel reported).
    void MarkOverflow() { m_overflowed = true; }

    // Takes one count per queued entry, empties the list, resets the flag.
    void ClearQueue();

    // Moves the front entry out; false when empty (the count is then zero).
    bool Next(ChangeNotification& out);
    bool Next(uint32_t& action, std::u16string& path);

    size_t size() const;
    size_t maximum() const { return m_maximum; }

private:
    const size_t m_maximum;
    mutable std::mutex m_lock;
    std::condition_variable m_available;
    std::condition_variable m_room;
    std::deque<ChangeNotification> m_entries;
    size_t m_count = 0;
    std::atomic<bool> m_overflowed{false};
};

}  // namespace ovsvc
