// The news line: a thread fetches "/def/news.php" from the news host every
// hour and hands the text to the user-interface thread, which draws it.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/settings/news_text.h"

// The thread and the text it fetched. The text is read by the drawing code
// on the user-interface thread; the thread only calls `changed` (from its
// own thread) to ask for a redraw.
class WebNewsLine {
public:
    using Changed = std::function<void()>;

    explicit WebNewsLine(Changed changed,
                         std::chrono::milliseconds interval = std::chrono::hours(1));
    ~WebNewsLine();  // stops and joins the thread
    WebNewsLine(const WebNewsLine&) = delete;
    WebNewsLine& operator=(const WebNewsLine&) = delete;

    // Starts the thread once; later calls do nothing.
    void start();
    // Ends the wait or the request under way and joins the thread.
    void stop();
    bool running() const;

    // The text to draw now; empty when there is none.
    std::u16string text() const;
    // How many times the text was replaced (by a fetch or by the hourly
    // erase), drawn or not.
    uint64_t updates() const;

private:
    friend void WebNewsThread(WebNewsLine& line);
    void publish(std::optional<std::u16string> text);
    bool waitInterval();  // false when stopped

    Changed m_changed;
    std::chrono::milliseconds m_interval;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_started = false;
    bool m_ended = false;
    std::u16string m_text;
    uint64_t m_updates = 0;
    std::thread m_thread;
};

// The thread procedure: fetch, draw, wait an hour, erase, again; ends at
// the first failure of a network step (logged) or when stopped.
void WebNewsThread(WebNewsLine& line);
