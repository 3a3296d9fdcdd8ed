#include "service/change_queue.h"

namespace ovsvc {

bool ChangeQueue::Push(ChangeNotification change, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> hold(m_lock);
    if (m_entries.size() >= m_maximum) {
        ++m_waiting;
        m_room.wait(hold, [&] { return m_entries.size() < m_maximum || stop.load(); });
        --m_waiting;
        if (m_entries.size() >= m_maximum) return false;
    }
    m_entries.push_back(std::move(change));
    ++m_count;
    hold.unlock();
    m_available.notify_one();
    return true;
}

void ChangeQueue::WakeProducers() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_room.notify_all();
}

bool ChangeQueue::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(m_lock);
    if (!m_available.wait_for(hold, timeout, [&] { return m_count > 0; })) return false;
    --m_count;
    return true;
}

void ChangeQueue::ClearQueue() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_count = m_count > m_entries.size() ? m_count - m_entries.size() : 0;
        m_entries.clear();
        m_overflowed = false;
    }
    m_room.notify_all();
}

bool ChangeQueue::Next(ChangeNotification& out) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_entries.empty()) {
            m_count = 0;
            return false;
        }
        out = std::move(m_entries.front());
        m_entries.pop_front();
        // A producer waiting for room is woken once half the queue is free,
        // not for every entry taken: in a burst the two threads would
        // otherwise hand the processor to each other at every file.
        wake = m_waiting > 0 && m_entries.size() <= m_maximum / 2;
    }
    if (wake) m_room.notify_one();
    return true;
}

bool ChangeQueue::Next(uint32_t& action, std::u16string& path) {
    ChangeNotification change;
    if (!Next(change)) return false;
    action = change.action;
    path = std::move(change.path);
    return true;
}

size_t ChangeQueue::size() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_entries.size();
}

size_t ChangeQueue::waitingProducers() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_waiting;
}

}  // namespace ovsvc
