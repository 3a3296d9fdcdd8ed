// Writes blocks to a file on a thread of its own, in the order they come,
// so that whoever fills them goes on while the system copies them into the
// file: a scan with Debug on writes hundreds of megabytes of debug lines.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/fs.h"

class WriteBehind {
public:
    // `file` outlives this; while blocks are queued only this writes it.
    explicit WriteBehind(platform::File& file) : m_file(file) {}
    ~WriteBehind();  // writes what is queued, then ends its thread
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Queues a block, and waits while kMostQueued are queued already, so
    // that a file that cannot keep up holds back its writer rather than
    // filling memory.
    void write(std::string block);
    // Returns once every block queued so far is in the file.
    void drain();

    static constexpr size_t kMostQueued = 8;

private:
    void run();

    platform::File& m_file;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::string> m_queue;
    bool m_writing = false;  // a block taken from the queue is being written
    bool m_stopping = false;
    std::thread m_thread;  // started with the first block
};
