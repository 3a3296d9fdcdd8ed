// Watches folder trees and turns their changes into ChangeNotifications
// with Windows action codes, queued for the service thread.
//
// An added file is announced when its writer has finished: at its last
// close after writing (a file closed and reopened within kSettle counts as
// one write), or, for a file that appears without being written through this
// name (a hard link), once it has stayed unchanged for kQuiet. A file
// checked that way and closed after writing later is announced again. A
// rename in place gives 4 and 5; a move between folders of the tree gives 2
// and 1; a file moved in from outside gives 1. Each watched folder has its
// own watch thread, stopped by Stop (or destruction).
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dirwatch.h"
#include "service/change_queue.h"

namespace ovsvc {

// Notify filter bits.
inline constexpr uint32_t kNotifyFileName = 0x1;
inline constexpr uint32_t kNotifyDirName = 0x2;
inline constexpr uint32_t kNotifyLastWrite = 0x10;
inline constexpr uint32_t kNotifyCreation = 0x40;

class DirectoryWatcher {
public:
    static constexpr std::chrono::milliseconds kSettle{20};
    static constexpr std::chrono::milliseconds kQuiet{1000};

    // onLoss runs on a watch thread when the kernel dropped changes
    // (truncated: the catch-up walk was cut short, so some added files may
    // stay unchecked).
    using LossHandler = std::function<void(bool truncated)>;

    explicit DirectoryWatcher(
        LossHandler onLoss = {},
        platform::DirectoryWatch::Backend backend = platform::DirectoryWatch::Backend::Automatic);
    ~DirectoryWatcher();
    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    // Starts watching; the error of the platform watch when the folder
    // cannot be watched (nothing is then watched for it).
    [[nodiscard]] uint32_t Watch(const std::u16string& folder, bool subtree, uint32_t filter,
                                 uint32_t bufferSize);
    void Stop();

    ChangeQueue& Queue() { return m_queue; }
    bool Wait(std::chrono::milliseconds timeout) { return m_queue.Wait(timeout); }
    bool Overflowed() const { return m_queue.Overflowed(); }
    void ClearQueue() { m_queue.ClearQueue(); }
    bool Next(ChangeNotification& out) { return m_queue.Next(out); }

    // The backend of the first watch (Automatic before any).
    platform::DirectoryWatch::Backend Backend() const;

    struct Request;

private:
    ChangeQueue m_queue;
    LossHandler m_onLoss;
    platform::DirectoryWatch::Backend m_backend;
    std::atomic<bool> m_stop{false};
    std::vector<std::unique_ptr<Request>> m_requests;
};

}  // namespace ovsvc
