// Change notifications: fanotify with filesystem marks where permitted,
// recursive inotify otherwise.
#include "platform/dirwatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <unordered_map>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/dirwatch_records.h"
#include "platform/path.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr uint32_t kInotifyMask = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                  IN_MOVED_TO | IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr uint64_t kFanotifyMask =
    FAN_CREATE | FAN_DELETE | FAN_CLOSE_WRITE | FAN_MOVED_FROM | FAN_MOVED_TO | FAN_ONDIR;
constexpr int64_t kCatchUpMarginNs = 2'000'000'000;
constexpr size_t kReadBuffer = 64 * 1024;
// The kernel queues the two halves of a rename one after the other; a read
// that ends between them waits this long for the second half, so that the
// two are paired and the rename is not taken for a move out and a move in.
constexpr int kRenameHalfWaitMs = 20;

// Whether the last whole record of a read is the first half of a rename.
bool endsInMoveFrom(const uint8_t* data, size_t size, bool fanotify) {
    size_t at = 0;
    uint64_t lastMask = 0;
    while (at < size) {
        uint32_t length = 0;
        uint64_t mask = 0;
        if (fanotify) {
            if (size - at < sizeof(fanotify_event_metadata)) break;
            std::memcpy(&length, data + at, sizeof length);
            std::memcpy(&mask, data + at + offsetof(fanotify_event_metadata, mask), sizeof mask);
        } else {
            if (size - at < sizeof(inotify_event)) break;
            uint32_t inotifyMask = 0;
            uint32_t nameLength = 0;
            std::memcpy(&inotifyMask, data + at + offsetof(inotify_event, mask), sizeof inotifyMask);
            std::memcpy(&nameLength, data + at + offsetof(inotify_event, len), sizeof nameLength);
            mask = inotifyMask;
            length = static_cast<uint32_t>(sizeof(inotify_event)) + nameLength;
        }
        if (length == 0 || length > size - at) break;
        lastMask = mask;
        at += length;
    }
    // FAN_MOVED_FROM and IN_MOVED_FROM are the same bit, as are the _TO ones.
    return (lastMask & IN_MOVED_FROM) != 0 && (lastMask & IN_MOVED_TO) == 0;
}

int64_t nowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool isUnder(const std::string& path, const std::string& root) {
    if (root == "/") return !path.empty() && path[0] == '/';
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

}  // namespace

struct DirectoryWatch::State {
    Backend backend = Backend::Inotify;
    std::string hostRoot;
    std::u16string windowsRoot;
    bool subtree = true;
    int fd = -1;
    int wake = -1;  // eventfd: cancel()
    // The last moment the kernel's queue was seen empty: everything made
    // before it has been read, so what a loss took was made after it.
    int64_t caughtUpNs = 0;
    uint32_t nextCookie = 1;
    bool watchLimitReported = false;
    // inotify
    std::unordered_map<int, std::string> folders;  // watch -> host folder
    std::map<std::string, int> watches;            // host folder -> watch
    // fanotify: one descriptor per marked filesystem, found by its fsid
    std::map<std::pair<int32_t, int32_t>, int> mounts;

    ~State() {
        for (auto& [fsid, fd] : mounts) ::close(fd);
        if (fd >= 0) ::close(fd);
        if (wake >= 0) ::close(wake);
    }

    std::u16string windowsPath(const std::string& host) const {
        std::u16string out = windowsRoot;
        if (host.size() <= hostRoot.size() && hostRoot != "/") return out;
        std::string relative = hostRoot == "/" ? host.substr(1) : host.substr(hostRoot.size() + 1);
        std::u16string tail = toUtf16(relative);
        for (char16_t& c : tail) {
            if (c == u'\\') c = 0xDC5C;  // a backslash inside a host name
            if (c == u'/') c = u'\\';
        }
        if (!out.empty() && out.back() != u'\\' && !tail.empty()) out += u'\\';
        return out + tail;
    }

    bool wanted(const std::string& folder) const {
        return subtree ? isUnder(folder, hostRoot) : folder == hostRoot;
    }

    // inotify: watches folder and, below it, every folder (skipping links
    // and pseudo file systems). With report, the files met are reported as
    // created (they may have been made before the watch existed).
    void watchTree(const std::string& folder, bool report, std::vector<DirectoryEvent>& out) {
        std::vector<std::string> pending{folder};
        while (!pending.empty()) {
            std::string current = std::move(pending.back());
            pending.pop_back();
            if (watches.count(current) == 0) {
                int watch = ::inotify_add_watch(fd, current.c_str(), kInotifyMask | IN_DONT_FOLLOW);
                if (watch < 0) {
                    if ((errno == ENOSPC || errno == ENOMEM) && !watchLimitReported) {
                        watchLimitReported = true;
                        DirectoryEvent lost;
                        lost.kind = ChangeKind::Lost;
                        lost.truncated = true;
                        out.push_back(lost);
                    }
                    continue;
                }
                folders[watch] = current;
                watches[current] = watch;
            }
            if (!subtree && current != hostRoot) continue;
            DIR* dir = ::opendir(current.c_str());
            if (!dir) continue;
            while (dirent* entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                    continue;
                std::string child = current == "/" ? "/" + std::string(entry->d_name)
                                                   : current + "/" + entry->d_name;
                struct stat st {};
                if (::lstat(child.c_str(), &st) != 0) continue;
                if (S_ISDIR(st.st_mode)) {
                    if (subtree && !isPseudoFileSystemFolder(windowsPath(child)))
                        pending.push_back(child);
                } else if (report && S_ISREG(st.st_mode)) {
                    // Made before the watch existed; its writer may still
                    // be at work, so it is reported as it appeared.
                    DirectoryEvent found;
                    found.kind = ChangeKind::Created;
                    found.path = windowsPath(child);
                    out.push_back(std::move(found));
                }
            }
            ::closedir(dir);
        }
    }

    void forgetTree(const std::string& folder) {
        for (auto it = watches.lower_bound(folder);
             it != watches.end() && isUnder(it->first, folder);) {
            ::inotify_rm_watch(fd, it->second);
            folders.erase(it->second);
            it = watches.erase(it);
        }
    }

    void renameTree(const std::string& from, const std::string& to) {
        std::vector<std::pair<std::string, int>> moved;
        for (auto it = watches.lower_bound(from);
             it != watches.end() && isUnder(it->first, from);) {
            moved.emplace_back(to + it->first.substr(from.size()), it->second);
            it = watches.erase(it);
        }
        for (auto& [path, watch] : moved) {
            watches[path] = watch;
            folders[watch] = path;
        }
    }

    // After a loss: every regular file changed since shortly before the last
    // event seen, and (inotify) a watch on every folder that lacks one.
    void catchUp(std::vector<DirectoryEvent>& out, bool truncatedAlready) {
        DirectoryEvent lost;
        lost.kind = ChangeKind::Lost;
        lost.truncated = truncatedAlready;
        out.push_back(lost);
        const int64_t since = caughtUpNs - kCatchUpMarginNs;
        uint32_t visited = 0;
        std::vector<std::string> pending{hostRoot};
        while (!pending.empty()) {
            std::string current = std::move(pending.back());
            pending.pop_back();
            if (backend == Backend::Inotify && watches.count(current) == 0) {
                int watch = ::inotify_add_watch(fd, current.c_str(), kInotifyMask | IN_DONT_FOLLOW);
                if (watch >= 0) {
                    folders[watch] = current;
                    watches[current] = watch;
                }
            }
            DIR* dir = ::opendir(current.c_str());
            if (!dir) continue;
            while (dirent* entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                    continue;
                if (++visited > kCatchUpLimit) {
                    ::closedir(dir);
                    DirectoryEvent cut;
                    cut.kind = ChangeKind::Lost;
                    cut.truncated = true;
                    out.push_back(cut);
                    return;
                }
                std::string child = current == "/" ? "/" + std::string(entry->d_name)
                                                   : current + "/" + entry->d_name;
                struct stat st {};
                if (::lstat(child.c_str(), &st) != 0) continue;
                if (S_ISDIR(st.st_mode)) {
                    if (subtree && !isPseudoFileSystemFolder(windowsPath(child)))
                        pending.push_back(child);
                } else if (S_ISREG(st.st_mode)) {
                    int64_t changed =
                        int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
                    if (changed >= since) {
                        DirectoryEvent found;
                        found.kind = ChangeKind::Found;
                        found.path = windowsPath(child);
                        out.push_back(std::move(found));
                    }
                }
            }
            ::closedir(dir);
        }
    }

    void pairMoves(std::vector<DirectoryEvent>& out, size_t first) {
        // A MovedTo pairs with the MovedFrom of the same cookie before it;
        // what stays unpaired gets cookie 0 (moved in or out of the tree).
        std::map<uint32_t, size_t> from;
        for (size_t i = first; i < out.size(); ++i) {
            if (out[i].kind == ChangeKind::MovedFrom) from[out[i].cookie] = i;
        }
        std::map<uint32_t, bool> paired;
        for (size_t i = first; i < out.size(); ++i) {
            if (out[i].kind != ChangeKind::MovedTo) continue;
            auto it = from.find(out[i].cookie);
            if (out[i].cookie != 0 && it != from.end() && it->second < i)
                paired[out[i].cookie] = true;
            else
                out[i].cookie = 0;
        }
        for (size_t i = first; i < out.size(); ++i) {
            if (out[i].kind == ChangeKind::MovedFrom && !paired.count(out[i].cookie))
                out[i].cookie = 0;
        }
    }

    void decodeInotify(const uint8_t* data, size_t size, std::vector<DirectoryEvent>& out) {
        std::vector<detail::InotifyRecord> records;
        detail::decodeInotifyRecords(data, size, records);
        const size_t first = out.size();
        std::map<uint32_t, std::string> movedFolders;  // cookie -> old host path
        bool lost = false;
        for (const detail::InotifyRecord& record : records) {
            if (record.mask & IN_Q_OVERFLOW) {
                lost = true;
                continue;
            }
            if (record.mask & IN_IGNORED) {
                auto it = folders.find(record.watch);
                if (it != folders.end()) {
                    watches.erase(it->second);
                    folders.erase(it);
                }
                continue;
            }
            auto it = folders.find(record.watch);
            if (it == folders.end() || record.name.empty()) continue;
            const std::string folder = it->second;
            const std::string host = folder == "/" ? "/" + record.name : folder + "/" + record.name;
            const bool isFolder = (record.mask & IN_ISDIR) != 0;
            DirectoryEvent event;
            event.isFolder = isFolder;
            event.cookie = record.cookie;
            event.path = windowsPath(host);
            if (record.mask & IN_CREATE) {
                event.kind = ChangeKind::Created;
                out.push_back(event);
                if (isFolder && subtree) watchTree(host, true, out);
            } else if (record.mask & IN_DELETE) {
                event.kind = ChangeKind::Deleted;
                out.push_back(event);
            } else if (record.mask & IN_CLOSE_WRITE) {
                event.kind = ChangeKind::ClosedAfterWrite;
                out.push_back(event);
            } else if (record.mask & IN_MOVED_FROM) {
                event.kind = ChangeKind::MovedFrom;
                out.push_back(event);
                if (isFolder) movedFolders[record.cookie] = host;
            } else if (record.mask & IN_MOVED_TO) {
                event.kind = ChangeKind::MovedTo;
                out.push_back(event);
                if (isFolder && subtree) {
                    auto old = movedFolders.find(record.cookie);
                    if (old != movedFolders.end()) {
                        renameTree(old->second, host);
                        movedFolders.erase(old);
                    } else {
                        watchTree(host, true, out);
                    }
                }
            }
        }
        for (auto& [cookie, host] : movedFolders) forgetTree(host);
        pairMoves(out, first);
        if (lost) catchUp(out, false);
    }

    bool folderOfHandle(const detail::FanotifyRecord& record, std::string& host) {
        auto mount = mounts.find({record.fsid[0], record.fsid[1]});
        if (mount == mounts.end() || !record.hasFolder) return false;
        std::string buffer(sizeof(file_handle) + record.handle.size(), '\0');
        auto* handle = reinterpret_cast<file_handle*>(buffer.data());
        handle->handle_bytes = static_cast<unsigned>(record.handle.size());
        handle->handle_type = static_cast<int>(record.handleType);
        std::memcpy(handle->f_handle, record.handle.data(), record.handle.size());
        int folder = ::open_by_handle_at(mount->second, handle, O_PATH | O_CLOEXEC);
        if (folder < 0) return false;
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", folder);
        char target[4096];
        ssize_t length = ::readlink(link, target, sizeof target - 1);
        ::close(folder);
        if (length <= 0) return false;
        host.assign(target, static_cast<size_t>(length));
        return host[0] == '/' && host.find(" (deleted)") == std::string::npos;
    }

    void decodeFanotify(const uint8_t* data, size_t size, std::vector<DirectoryEvent>& out) {
        std::vector<detail::FanotifyRecord> records;
        detail::decodeFanotifyRecords(data, size, records);
        const size_t first = out.size();
        bool lost = false;
        bool lastWasMovedFrom = false;
        // A burst brings many records of the same few folders in one read.
        // A folder's handle is turned into its path (two system calls and a
        // close) and its path tested for a pseudo file system once a read:
        // every answer is taken after all of the read's changes happened, so
        // an answer kept for the read is the one each record would get.
        struct FolderAnswer {
            bool found = false;
            std::string host;
            bool pseudo = false;
        };
        std::map<std::string, FolderAnswer> folders;
        auto folderOf = [&](const detail::FanotifyRecord& record) -> const FolderAnswer& {
            std::string key(reinterpret_cast<const char*>(record.fsid), sizeof record.fsid);
            key.append(reinterpret_cast<const char*>(&record.handleType), sizeof record.handleType);
            key += record.handle;
            auto it = folders.find(key);
            if (it != folders.end()) return it->second;
            FolderAnswer answer;
            answer.found = folderOfHandle(record, answer.host) && wanted(answer.host);
            answer.pseudo =
                answer.found && subtree && isPseudoFileSystemFolder(windowsPath(answer.host));
            return folders.emplace(std::move(key), std::move(answer)).first->second;
        };
        for (const detail::FanotifyRecord& record : records) {
            if (record.fd >= 0) ::close(record.fd);
            if (record.mask & FAN_Q_OVERFLOW) {
                lost = true;
                continue;
            }
            const bool movedFrom = (record.mask & FAN_MOVED_FROM) != 0;
            const bool movedTo = (record.mask & FAN_MOVED_TO) != 0;
            uint32_t cookie = 0;
            if (movedFrom) cookie = nextCookie++;
            if (movedTo && lastWasMovedFrom) cookie = nextCookie - 1;
            lastWasMovedFrom = movedFrom && !movedTo;
            if (record.name.empty() || record.name == ".") continue;
            const FolderAnswer& answer = folderOf(record);
            if (!answer.found || answer.pseudo) continue;
            const std::string& folder = answer.host;
            const std::string host = folder == "/" ? "/" + record.name : folder + "/" + record.name;
            DirectoryEvent event;
            event.isFolder = (record.mask & FAN_ONDIR) != 0;
            event.path = windowsPath(host);
            // Events merged by the kernel come out in the order they happen.
            auto emit = [&](ChangeKind kind, uint32_t withCookie) {
                event.kind = kind;
                event.cookie = withCookie;
                out.push_back(event);
            };
            if (record.mask & FAN_CREATE) emit(ChangeKind::Created, 0);
            if (movedTo) emit(ChangeKind::MovedTo, cookie);
            if (record.mask & FAN_CLOSE_WRITE) emit(ChangeKind::ClosedAfterWrite, 0);
            if (movedFrom) emit(ChangeKind::MovedFrom, cookie);
            if (record.mask & FAN_DELETE) emit(ChangeKind::Deleted, 0);
        }
        pairMoves(out, first);
        if (lost) catchUp(out, false);
    }
};

DirectoryWatch::DirectoryWatch() = default;
DirectoryWatch::~DirectoryWatch() = default;
DirectoryWatch::DirectoryWatch(DirectoryWatch&&) noexcept = default;
DirectoryWatch& DirectoryWatch::operator=(DirectoryWatch&&) noexcept = default;

DirectoryWatch::Backend DirectoryWatch::backend() const {
    return m_state ? m_state->backend : Backend::Automatic;
}

void DirectoryWatch::close() { m_state.reset(); }

namespace {

// Mount points at or below root (root's own filesystem first), from
// /proc/self/mountinfo; octal escapes undone.
std::vector<std::string> mountsUnder(const std::string& root) {
    std::vector<std::string> out{root};
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, source, point;
        fields >> id >> parent >> device >> source >> point;
        std::string decoded;
        for (size_t i = 0; i < point.size(); ++i) {
            if (point[i] == '\\' && i + 3 < point.size()) {
                int value = 0;
                if (std::sscanf(point.c_str() + i + 1, "%3o", &value) == 1) {
                    decoded += static_cast<char>(value);
                    i += 3;
                    continue;
                }
            }
            decoded += point[i];
        }
        if (decoded != root && isUnder(decoded, root) &&
            !isPseudoFileSystemFolder(toWindowsPath(decoded))) {
            out.push_back(decoded);
        }
    }
    return out;
}

bool handlesOpen(const DirectoryWatch::State& state) {
    if (state.mounts.empty()) return false;
    struct statfs fs {};
    if (::statfs(state.hostRoot.c_str(), &fs) != 0) return false;
    int32_t fsid[2];
    std::memcpy(fsid, &fs.f_fsid, sizeof fsid);
    auto mount = state.mounts.find({fsid[0], fsid[1]});
    if (mount == state.mounts.end()) return false;
    alignas(file_handle) char buffer[sizeof(file_handle) + MAX_HANDLE_SZ];
    auto* handle = reinterpret_cast<file_handle*>(buffer);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (::name_to_handle_at(AT_FDCWD, state.hostRoot.c_str(), handle, &mountId, 0) != 0)
        return false;
    int fd = ::open_by_handle_at(mount->second, handle, O_PATH | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

uint32_t openFanotify(DirectoryWatch::State& state) {
    int fd = ::fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_DFID_NAME | FAN_CLOEXEC | FAN_NONBLOCK,
                             O_RDONLY | O_LARGEFILE | O_CLOEXEC);
    if (fd < 0) return kErrorNotSupported;
    state.fd = fd;
    bool first = true;
    for (const std::string& mount : mountsUnder(state.hostRoot)) {
        int mountFd = ::open(mount.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (mountFd < 0) {
            if (first) return kErrorNotSupported;
            continue;
        }
        struct statfs fs {};
        int rc = ::fstatfs(mountFd, &fs);
        if (rc == 0) {
            rc = ::fanotify_mark(fd, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kFanotifyMask, AT_FDCWD,
                                 mount.c_str());
        }
        if (rc != 0) {
            ::close(mountFd);
            if (first) return kErrorNotSupported;
            continue;
        }
        int32_t fsid[2];
        std::memcpy(fsid, &fs.f_fsid, sizeof fsid);
        auto key = std::make_pair(fsid[0], fsid[1]);
        if (state.mounts.count(key))
            ::close(mountFd);
        else
            state.mounts[key] = mountFd;
        first = false;
        if (!state.subtree) break;
    }
    // Every event names its folder by a file handle; where handles cannot
    // be opened (a sandbox that forbids open_by_handle_at) no event could be
    // placed, so fanotify is of no use.
    if (!handlesOpen(state)) return kErrorNotSupported;
    state.backend = DirectoryWatch::Backend::Fanotify;
    return kErrorSuccess;
}

uint32_t openInotify(DirectoryWatch::State& state) {
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return setLastErrorFromErrno(errno);
    state.fd = fd;
    state.backend = DirectoryWatch::Backend::Inotify;
    int watch = ::inotify_add_watch(fd, state.hostRoot.c_str(), kInotifyMask);
    if (watch < 0) return setLastErrorFromErrno(errno);
    state.folders[watch] = state.hostRoot;
    state.watches[state.hostRoot] = watch;
    std::vector<DirectoryEvent> ignored;
    if (state.subtree) state.watchTree(state.hostRoot, false, ignored);
    return kErrorSuccess;
}

}  // namespace

uint32_t DirectoryWatch::open(std::u16string_view folder, bool subtree, Backend backend,
                              DirectoryWatch& out) {
    out.close();
    std::string host = toHostPath(folder);
    if (host.empty()) {
        setLastError(kErrorPathNotFound);
        return kErrorPathNotFound;
    }
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) {
        setLastError(kErrorPathNotFound);
        return kErrorPathNotFound;
    }
    if (!S_ISDIR(st.st_mode)) {
        setLastError(kErrorDirectory);
        return kErrorDirectory;
    }
    auto make = [&]() {
        auto state = std::make_unique<State>();
        state->hostRoot = host;
        state->windowsRoot = std::u16string(folder);
        while (state->windowsRoot.size() > 3 &&
               (state->windowsRoot.back() == u'\\' || state->windowsRoot.back() == u'/')) {
            state->windowsRoot.pop_back();
        }
        state->subtree = subtree;
        state->caughtUpNs = nowNs();
        state->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return state;
    };
    uint32_t rc = kErrorNotSupported;
    if (backend != Backend::Inotify) {
        auto state = make();
        rc = openFanotify(*state);
        if (rc == 0) out.m_state = std::move(state);
        if (rc != 0 && backend == Backend::Fanotify) {
            setLastError(rc);
            return rc;
        }
    }
    if (!out.m_state) {
        auto state = make();
        rc = openInotify(*state);
        if (rc != 0) {
            setLastError(rc);
            return rc;
        }
        out.m_state = std::move(state);
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t DirectoryWatch::read(std::vector<DirectoryEvent>& out, int timeoutMs) {
    if (!m_state) {
        setLastError(kErrorInvalidHandle);
        return kErrorInvalidHandle;
    }
    State& state = *m_state;
    pollfd entries[2] = {{state.fd, POLLIN, 0}, {state.wake, POLLIN, 0}};
    const int64_t beforePoll = nowNs();
    int ready;
    do {
        ready = ::poll(entries, 2, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return setLastErrorFromErrno(errno);
    if (entries[1].revents & POLLIN) {
        uint64_t count = 0;
        (void)!::read(state.wake, &count, sizeof count);
        setLastError(1223);
        return 1223;
    }
    if (ready == 0) {
        state.caughtUpNs = beforePoll;
        setLastError(kErrorWaitTimeout);
        return kErrorWaitTimeout;
    }
    alignas(8) static thread_local uint8_t buffer[kReadBuffer];
    const int64_t beforeRead = nowNs();
    ssize_t got = ::read(state.fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        state.caughtUpNs = beforeRead;
        setLastError(kErrorWaitTimeout);
        return kErrorWaitTimeout;
    }
    // The second half of a rename the read stopped before is read with it.
    for (int more = 0; more < 4 && got > 0 &&
                       static_cast<size_t>(got) + 4096 <= sizeof buffer &&
                       endsInMoveFrom(buffer, static_cast<size_t>(got),
                                      state.backend == Backend::Fanotify);
         ++more) {
        pollfd next = {state.fd, POLLIN, 0};
        if (::poll(&next, 1, kRenameHalfWaitMs) <= 0) break;
        const ssize_t extra = ::read(state.fd, buffer + got, sizeof buffer - static_cast<size_t>(got));
        if (extra <= 0) break;
        got += extra;
    }
    int pending = 1;
    const bool emptied = got > 0 && ::ioctl(state.fd, FIONREAD, &pending) == 0 && pending == 0;
    if (got <= 0) {
        // Nothing could be read although the kernel said there was: treat
        // it as a loss, never as silence.
        state.catchUp(out, false);
    } else if (state.backend == Backend::Fanotify) {
        state.decodeFanotify(buffer, static_cast<size_t>(got), out);
    } else {
        state.decodeInotify(buffer, static_cast<size_t>(got), out);
    }
    if (emptied) state.caughtUpNs = beforeRead;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

void DirectoryWatch::cancel() {
    if (!m_state) return;
    uint64_t one = 1;
    (void)!::write(m_state->wake, &one, sizeof one);
}

}  // namespace platform
