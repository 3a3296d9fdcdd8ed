#include "app/scan/write_behind.h"

#include <utility>

WriteBehind::~WriteBehind() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void WriteBehind::write(std::string block) {
    if (block.empty()) return;
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
    m_changed.wait(guard, [this] { return m_queue.size() < kMostQueued; });
    m_queue.push_back(std::move(block));
    guard.unlock();
    m_changed.notify_all();
}

void WriteBehind::drain() {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [this] { return m_queue.empty() && !m_writing; });
}

void WriteBehind::run() {
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_changed.wait(guard, [this] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty()) return;  // stopping, and all is written
        std::string block = std::move(m_queue.front());
        m_queue.pop_front();
        m_writing = true;
        guard.unlock();
        m_changed.notify_all();  // room in the queue
        uint32_t written = 0;
        // As every write of the log: a failing one costs that block only.
        (void)m_file.write(block.data(), static_cast<uint32_t>(block.size()), written);
        guard.lock();
        m_writing = false;
        m_changed.notify_all();  // a drain may be waiting
    }
}
