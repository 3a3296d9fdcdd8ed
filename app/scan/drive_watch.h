// The new-drive watch: a thread that compares the logical drive strings
// taken some time apart and announces the first new drive root it finds
// ("Found New Added Device: E:\"). Drives that disappear are not reported.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

inline constexpr char16_t kNewDeviceFormat[] = u"Found New Added Device: %s";

class DriveWatch {
public:
    // announce gets the message text; it may block (a modal message) and
    // the watch waits for it. log writes the application log's entry line.
    using Announce = std::function<void(const std::u16string& text)>;
    using Log = std::function<void(const char16_t* text)>;

    DriveWatch(Announce announce, Log log,
               std::chrono::milliseconds interval = std::chrono::milliseconds(2000),
               std::function<std::u16string()> driveStrings = {});
    ~DriveWatch();  // stops and joins the thread
    DriveWatch(const DriveWatch&) = delete;
    DriveWatch& operator=(const DriveWatch&) = delete;

    // Starts the thread (ExtDevThread); false when it cannot be started.
    bool start();
    // Ends the watch at its next wait; an announcement in progress must be
    // released by its owner (the announce function returns).
    void stop();
    bool running() const { return m_running; }

private:
    void run();
    bool waitInterval();  // false when stopped

    Announce m_announce;
    Log m_log;
    std::chrono::milliseconds m_interval;
    std::function<std::u16string()> m_driveStrings;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
