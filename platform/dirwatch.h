// Change notifications for a folder tree.
//
// Two backends: fanotify with a filesystem mark (every filesystem mounted
// in the tree) reporting the folder and name of each change
// (FAN_REPORT_DFID_NAME), when the kernel and the caller's privileges allow
// it; else inotify, one watch per folder, each new folder added as it
// appears (the files it already holds reported as created). Events
// outside the tree are left out; paths are Windows form, the watched
// folder's own form and the names below it joined by one backslash.
//
// Nothing is lost silently: when the kernel drops events (its queue
// overflowed, or a read brought nothing) a Lost event is reported, followed
// by a Found event for every regular file changed since shortly before the
// kernel's queue was last seen empty (a walk of the tree by change time,
// bounded by
// kCatchUpLimit entries; a walk cut short reports Lost again with
// truncated set).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ChangeKind : uint8_t {
    Created,           // a name appeared (file or folder)
    Deleted,           // a name went away
    ClosedAfterWrite,  // a file opened for writing was closed
    MovedFrom,         // old name of a move; cookie pairs it with its MovedTo
    MovedTo,           // new name of a move (cookie 0: moved in from outside)
    Found,             // a file the catch-up walk found changed after a loss
    Lost,              // the kernel dropped events
};

struct DirectoryEvent {
    ChangeKind kind = ChangeKind::Created;
    bool isFolder = false;
    bool truncated = false;  // Lost: the catch-up walk was cut short
    uint32_t cookie = 0;
    std::u16string path;  // full Windows path; empty for Lost
};

class DirectoryWatch {
public:
    enum class Backend { Automatic, Fanotify, Inotify };

    static constexpr uint32_t kCatchUpLimit = 200000;

    DirectoryWatch();
    ~DirectoryWatch();
    DirectoryWatch(DirectoryWatch&&) noexcept;
    DirectoryWatch& operator=(DirectoryWatch&&) noexcept;
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    // Starts watching a folder (Windows form) and, when subtree, everything
    // below it. Automatic tries fanotify, then inotify. 3 when the folder
    // does not exist, 267 when it is not a folder, 50 when the backend asked
    // for cannot be had here (fanotify without the privilege), 5 and others
    // from the system.
    [[nodiscard]] static uint32_t open(std::u16string_view folder, bool subtree, Backend backend,
                                       DirectoryWatch& out);

    Backend backend() const;
    bool isOpen() const { return m_state != nullptr; }

    // Waits up to timeoutMs (-1: no limit) and appends what arrived to out.
    // 0 when events were read, 258 on timeout, 1223 after cancel(), 6 when
    // not open. Thread: one reader; cancel() from any thread.
    [[nodiscard]] uint32_t read(std::vector<DirectoryEvent>& out, int timeoutMs);
    void cancel();
    void close();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

}  // namespace platform
