#include "service/directory_watcher.h"

#include <map>
#include <optional>
#include <set>

#include "platform/fs.h"
#include "platform/path.h"

namespace ovsvc {

namespace {

using Clock = std::chrono::steady_clock;
using platform::ChangeKind;
using platform::DirectoryEvent;

constexpr size_t kRecheckLimit = 4096;

struct Pending {
    bool closed = false;  // closed after writing; announced at the deadline
    Clock::time_point deadline;
    platform::FileIdentity stamp;
    bool haveStamp = false;
};

bool stampOf(const std::u16string& path, platform::FileIdentity& out) {
    platform::File file;
    if (platform::File::open(path, platform::kGenericRead,
                             platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                             platform::Disposition::OpenExisting, file) != 0) {
        return false;
    }
    return file.identity(out) == 0;
}

}  // namespace

struct DirectoryWatcher::Request {
    DirectoryWatcher* owner = nullptr;
    uint32_t filter = 0;
    platform::DirectoryWatch watch;
    std::thread thread;
    std::map<std::u16string, Pending> pending;
    std::set<std::u16string> recheckOnClose;
    DirectoryEvent movedFrom;
    bool haveMovedFrom = false;

    bool push(uint32_t action, const std::u16string& path, bool check = false) {
        return owner->m_queue.Push(ChangeNotification{action, path, check}, owner->m_stop);
    }

    bool reports(const DirectoryEvent& event) const {
        return event.isFolder ? (filter & kNotifyDirName) != 0
                              : (filter & (kNotifyFileName | kNotifyCreation)) != 0;
    }

    void added(const DirectoryEvent& event) {
        if (event.isFolder) {
            push(1, event.path);
        } else {
            pending.erase(event.path);
            push(1, event.path, true);
        }
    }

    void handle(const DirectoryEvent& event, Clock::time_point now) {
        switch (event.kind) {
            case ChangeKind::Created:
                if (!reports(event)) return;
                if (event.isFolder) {
                    push(1, event.path);
                } else {
                    Pending entry;
                    entry.deadline = now + kQuiet;
                    entry.haveStamp = stampOf(event.path, entry.stamp);
                    pending[event.path] = entry;
                }
                return;
            case ChangeKind::Deleted:
                pending.erase(event.path);
                recheckOnClose.erase(event.path);
                if (reports(event)) push(2, event.path);
                return;
            case ChangeKind::ClosedAfterWrite: {
                auto it = pending.find(event.path);
                if (it == pending.end() && recheckOnClose.erase(event.path) > 0)
                    it = pending.emplace(event.path, Pending{}).first;
                if (it != pending.end()) {
                    it->second.closed = true;
                    it->second.deadline = now + kSettle;
                } else if (filter & kNotifyLastWrite) {
                    push(3, event.path);
                }
                return;
            }
            case ChangeKind::MovedFrom:
                if (event.cookie != 0) {
                    movedFrom = event;
                    haveMovedFrom = true;
                    return;
                }
                pending.erase(event.path);
                if (reports(event)) push(2, event.path);
                return;
            case ChangeKind::MovedTo: {
                const bool paired =
                    event.cookie != 0 && haveMovedFrom && movedFrom.cookie == event.cookie;
                haveMovedFrom = false;
                if (!reports(event)) return;
                std::optional<Pending> carried;
                if (paired) {
                    auto it = pending.find(movedFrom.path);
                    if (it != pending.end()) {
                        carried = it->second;
                        pending.erase(it);
                    }
                    recheckOnClose.erase(movedFrom.path);
                }
                if (paired &&
                    platform::parentPath(movedFrom.path) == platform::parentPath(event.path)) {
                    push(4, movedFrom.path);
                    push(5, event.path);
                    if (carried) pending[event.path] = *carried;
                    return;
                }
                if (paired) push(2, movedFrom.path);
                if (carried)
                    pending[event.path] = *carried;
                else
                    added(event);
                return;
            }
            case ChangeKind::Found:
                added(event);
                return;
            case ChangeKind::Lost:
                if (owner->m_onLoss)
                    owner->m_onLoss(event.truncated);
                else
                    owner->m_queue.MarkOverflow();
                return;
        }
    }

    void announceDue(Clock::time_point now) {
        for (auto it = pending.begin(); it != pending.end();) {
            Pending& entry = it->second;
            if (entry.deadline > now) {
                ++it;
                continue;
            }
            if (!entry.closed) {
                // Never closed after writing: announced once it stays
                // unchanged, and again should a writer close it later.
                platform::FileIdentity stamp;
                if (!stampOf(it->first, stamp)) {
                    it = pending.erase(it);
                    continue;
                }
                if (!entry.haveStamp || !(stamp == entry.stamp)) {
                    entry.stamp = stamp;
                    entry.haveStamp = true;
                    entry.deadline = now + kQuiet;
                    ++it;
                    continue;
                }
                if (recheckOnClose.size() >= kRecheckLimit) recheckOnClose.clear();
                recheckOnClose.insert(it->first);
            }
            const std::u16string path = it->first;
            it = pending.erase(it);
            push(1, path, true);
        }
    }

    int timeoutMs(Clock::time_point now) const {
        if (pending.empty()) return -1;
        Clock::time_point first = Clock::time_point::max();
        for (const auto& [path, entry] : pending) first = std::min(first, entry.deadline);
        if (first <= now) return 0;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(first - now).count() + 1;
        return static_cast<int>(std::min<int64_t>(wait, 60000));
    }

    void run() {
        std::vector<DirectoryEvent> events;
        while (!owner->m_stop) {
            events.clear();
            uint32_t rc = watch.read(events, timeoutMs(Clock::now()));
            if (owner->m_stop || rc == 1223) break;
            const Clock::time_point now = Clock::now();
            for (const DirectoryEvent& event : events) {
                if (owner->m_stop) break;
                handle(event, now);
            }
            if (haveMovedFrom) {
                // Its other half never came in this read: moved out.
                haveMovedFrom = false;
                pending.erase(movedFrom.path);
                if (reports(movedFrom)) push(2, movedFrom.path);
            }
            announceDue(Clock::now());
        }
    }
};

DirectoryWatcher::DirectoryWatcher(LossHandler onLoss, platform::DirectoryWatch::Backend backend)
    : m_onLoss(std::move(onLoss)), m_backend(backend) {}

DirectoryWatcher::~DirectoryWatcher() { Stop(); }

uint32_t DirectoryWatcher::Watch(const std::u16string& folder, bool subtree, uint32_t filter,
                                 uint32_t bufferSize) {
    (void)bufferSize;  // the kernel's own queue holds what is not yet read
    auto request = std::make_unique<Request>();
    request->owner = this;
    request->filter = filter;
    uint32_t rc = platform::DirectoryWatch::open(folder, subtree, m_backend, request->watch);
    if (rc != 0) return rc;
    Request* raw = request.get();
    request->thread = std::thread([raw] { raw->run(); });
    m_requests.push_back(std::move(request));
    return 0;
}

void DirectoryWatcher::Stop() {
    m_stop = true;
    m_queue.WakeProducers();
    for (auto& request : m_requests) request->watch.cancel();
    for (auto& request : m_requests) {
        if (request->thread.joinable()) request->thread.join();
    }
    m_requests.clear();
}

platform::DirectoryWatch::Backend DirectoryWatcher::Backend() const {
    return m_requests.empty() ? platform::DirectoryWatch::Backend::Automatic
                              : m_requests.front()->watch.backend();
}

}  // namespace ovsvc
