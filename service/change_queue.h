// The bounded queue between the watch thread (producer) and the service
// thread (consumer): a first-in-first-out list under a lock, a count that
// follows the number of queued entries so that the consumer can wait
// without holding the lock, and an overflow flag.
//
// Nothing is dropped here: a producer that finds the queue full waits for
// room, and while it waits it takes nothing from the kernel, whose own
// buffer holds the changes behind it. A full queue is therefore no loss and
// leaves the overflow flag alone; the flag says that changes were lost
// before they reached the queue (the kernel dropped some, MarkOverflow).
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

    // Appends; while the queue is full, waits for room. false (nothing
    // appended) when stop became true meanwhile.
    bool Push(ChangeNotification change, const std::atomic<bool>& stop);
    // Wakes a producer waiting for room (to see its stop flag).
    void WakeProducers();

    // The consumer's wait: takes one count, waiting up to timeout for one.
    bool Wait(std::chrono::milliseconds timeout);

    bool Overflowed() const { return m_overflowed.load(); }
    void ResetOverflow() { m_overflowed = false; }
    // Sets the flag: the kernel reported lost changes.
    void MarkOverflow() { m_overflowed = true; }

    // Takes one count per queued entry, empties the list, resets the flag.
    void ClearQueue();

    // Moves the front entry out; false when empty (the count is then zero).
    bool Next(ChangeNotification& out);
    bool Next(uint32_t& action, std::u16string& path);

    size_t size() const;
    size_t maximum() const { return m_maximum; }
    // Producers waiting for room at this moment.
    size_t waitingProducers() const;

private:
    const size_t m_maximum;
    mutable std::mutex m_lock;
    std::condition_variable m_available;
    std::condition_variable m_room;
    std::deque<ChangeNotification> m_entries;
    size_t m_count = 0;
    size_t m_waiting = 0;
    std::atomic<bool> m_overflowed{false};
};

}  // namespace ovsvc
