// Removal of a folder tree. The walk holds the folders by descriptor and
// opens every child with O_NOFOLLOW, so a symbolic link inside the tree is
// removed as a link and never followed out of it; a tree deeper than
// PATH_MAX is handled because no full path is ever built.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"
#include "platform/path.h"

namespace platform {

using detail::report;

namespace {

// Folder streams kept open at once; deeper levels are closed and found
// again through "..", checked against the device and inode they had.
constexpr size_t kOpenLevels = 32;

std::function<void(std::string_view)>& descentHook() {
    static std::function<void(std::string_view)> hook;
    return hook;
}

struct Level {
    std::string name;  // name within the parent level
    dev_t device = 0;
    ino_t inode = 0;
    DIR* dir = nullptr;
};

DIR* openChildFolder(int parentFd, const char* name, struct stat& st) {
    int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return nullptr;
    }
    if (::fstat(fd, &st) != 0) {
        ::closedir(dir);
        return nullptr;
    }
    return dir;
}

// Empties the folder open as top. Stops at the first failure, so that a
// name that cannot be removed is never walked again and again.
uint32_t removeContents(DIR* top, const struct stat& topStat) {
    std::vector<Level> levels;
    levels.push_back({"", topStat.st_dev, topStat.st_ino, top});
    auto fail = [&levels](uint32_t code) {
        for (size_t i = 1; i < levels.size(); ++i)  // the top belongs to the caller
            if (levels[i].dir) ::closedir(levels[i].dir);
        return code;
    };
    for (;;) {
        Level& level = levels.back();
        errno = 0;
        dirent* entry = ::readdir(level.dir);
        if (entry) {
            std::string_view name(entry->d_name);
            if (name == "." || name == "..") continue;
            int fd = ::dirfd(level.dir);
            struct stat st {};
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;
                return fail(errorFromErrno(errno));
            }
            if (!S_ISDIR(st.st_mode)) {
                // Files and links go as names; a link is never followed.
                if (::unlinkat(fd, entry->d_name, 0) != 0 && errno != ENOENT)
                    return fail(errorFromErrno(errno));
                continue;
            }
            // Another file system mounted inside is never emptied.
            if (st.st_dev != level.device) return fail(kErrorAccessDenied);
            if (descentHook()) descentHook()(name);
            struct stat childStat {};
            DIR* child = openChildFolder(fd, entry->d_name, childStat);
            if (!child) {
                // A link put in its place (ELOOP, or ENOTDIR as a folder is
                // asked for) or a file: refused.
                const int err = errno;
                return fail(err == ELOOP || err == ENOTDIR ? kErrorAccessDenied
                                                           : errorFromErrno(err));
            }
            if (childStat.st_dev != st.st_dev || childStat.st_ino != st.st_ino) {
                ::closedir(child);  // swapped meanwhile
                return fail(kErrorAccessDenied);
            }
            if (levels.size() >= kOpenLevels) {
                size_t oldest = levels.size() - kOpenLevels;
                if (oldest > 0 && levels[oldest].dir) {
                    ::closedir(levels[oldest].dir);
                    levels[oldest].dir = nullptr;
                }
            }
            levels.push_back({std::string(name), st.st_dev, st.st_ino, child});
            continue;
        }
        if (errno != 0) return fail(errorFromErrno(errno));
        if (levels.size() == 1) return kErrorSuccess;

        // This level is empty now: remove it from its parent.
        Level done = std::move(levels.back());
        levels.pop_back();
        Level& parent = levels.back();
        if (!parent.dir) {
            // Found again through "..", which is never a link; a folder moved
            // away meanwhile is not followed.
            struct stat st {};
            int fd = ::openat(::dirfd(done.dir), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
            if (!dir && fd >= 0) ::close(fd);
            if (dir && (::fstat(fd, &st) != 0 || st.st_dev != parent.device ||
                        st.st_ino != parent.inode)) {
                ::closedir(dir);
                dir = nullptr;
            }
            if (!dir) {
                ::closedir(done.dir);
                return fail(kErrorAccessDenied);
            }
            parent.dir = dir;
        }
        ::closedir(done.dir);
        if (::unlinkat(::dirfd(parent.dir), done.name.c_str(), AT_REMOVEDIR) != 0 &&
            errno != ENOENT) {
            return fail(errorFromErrno(errno));
        }
    }
}

}  // namespace

void setRemoveTreeDescentHook(std::function<void(std::string_view name)> hook) {
    descentHook() = std::move(hook);
}

uint32_t removeTree(std::u16string_view path) {
    std::string host = toHostPath(path);
    if (host.empty()) return report(kErrorPathNotFound);
    // A drive's root is never removed as a tree.
    for (const auto& drive : driveMap())
        if (drive.hostRoot == host) return report(kErrorAccessDenied);
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return report(detail::pathFailure(errno, host));
    if (S_ISLNK(st.st_mode)) {
        if (::unlink(host.c_str()) != 0) return report(errorFromErrno(errno));
        return report(kErrorSuccess);
    }
    if (!S_ISDIR(st.st_mode)) return report(kErrorDirectory);
    int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* top = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!top) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        return report(errorFromErrno(err));
    }
    struct stat topStat {};
    ::fstat(fd, &topStat);
    uint32_t rc = removeContents(top, topStat);
    ::closedir(top);
    if (rc != kErrorSuccess) return report(rc);
    if (::rmdir(host.c_str()) != 0) return report(errorFromErrno(errno));
    return report(kErrorSuccess);
}

}  // namespace platform
