// Writes and deletes that never follow a planted link. The path is walked
// from "/" one component at a time with openat(O_NOFOLLOW): every folder is
// held by descriptor, so a name swapped after it was passed changes nothing,
// and a symbolic link on the way is expanded by hand only when no one but
// root or the caller could have placed it.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"
#include "platform/path.h"

namespace platform {

namespace detail {

// Hands an opened descriptor to a File, with its entry in the share table.
struct FileAccess {
    static uint32_t adopt(int fd, uint32_t access, uint32_t share, File& out) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            int err = errno;
            ::close(fd);
            return errorFromErrno(err);
        }
        uint64_t id = 0;
        uint32_t rc =
            registerOpen({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
                         access, share, id);
        if (rc != kErrorSuccess) {
            ::close(fd);
            return rc;
        }
        out.close();
        out.m_fd = fd;
        out.m_access = access;
        out.m_openId = id;
        constexpr int64_t kNsPerSecond = 1000000000;
        out.m_identityAtOpen.device = static_cast<uint64_t>(st.st_dev);
        out.m_identityAtOpen.inode = static_cast<uint64_t>(st.st_ino);
        out.m_identityAtOpen.size = static_cast<uint64_t>(st.st_size);
        out.m_identityAtOpen.modifiedNs =
            static_cast<int64_t>(st.st_mtim.tv_sec) * kNsPerSecond + st.st_mtim.tv_nsec;
        out.m_identityAtOpen.changedNs =
            static_cast<int64_t>(st.st_ctim.tv_sec) * kNsPerSecond + st.st_ctim.tv_nsec;
        return kErrorSuccess;
    }
    static int descriptor(const File& file) { return file.m_fd; }
};

}  // namespace detail

using detail::report;

namespace {

// Links expanded in one walk at most, as the kernel allows.
constexpr int kMaxLinks = 40;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool trustedOwner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

// A folder whose entries only root or the caller can replace.
bool folderIsSafe(const struct stat& folder) {
    if (!trustedOwner(folder.st_uid)) return false;
    return (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (folder.st_mode & S_ISVTX) != 0;
}

// A link that no one but root or the caller could have put in that folder.
bool linkIsSafe(const struct stat& link, const struct stat& folder) {
    return trustedOwner(link.st_uid) && folderIsSafe(folder);
}

void splitInto(std::string_view path, std::deque<std::string>& out, bool atFront) {
    std::deque<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash > i) parts.emplace_back(path.substr(i, slash - i));
        i = slash + 1;
    }
    if (atFront)
        out.insert(out.begin(), parts.begin(), parts.end());
    else
        out.insert(out.end(), parts.begin(), parts.end());
}

uint32_t openRoot(Fd& out, struct stat& st) {
    out = Fd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (out.get() < 0 || ::fstat(out.get(), &st) != 0) return errorFromErrno(errno);
    return kErrorSuccess;
}

// Where a path's last name lives: its folder held open, the name in it.
struct Place {
    Fd folder;
    struct stat folderStat {};
    std::string name;  // empty when the path names "/" itself
};

// Walks to the folder of the last component. With followLast, a safe link
// as the last component is expanded too, so the place is that of the final
// target; otherwise the last name is left as it is. An unsafe link at the
// last name is refused in both cases.
uint32_t walk(const std::string& hostPath, bool followLast, Place& out) {
    if (hostPath.empty() || hostPath[0] != '/') return kErrorPathNotFound;
    Fd current;
    struct stat currentStat {};
    if (uint32_t rc = openRoot(current, currentStat); rc != kErrorSuccess) return rc;
    std::deque<std::string> rest;
    splitInto(hostPath, rest, false);
    int links = 0;
    while (!rest.empty()) {
        std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == ".") continue;
        bool last = rest.empty();
        struct stat st {};
        if (::fstatat(current.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            int err = errno;
            if (err == ENOENT && last) {
                out.folder = std::move(current);
                out.folderStat = currentStat;
                out.name = std::move(name);
                return kErrorSuccess;
            }
            return err == ENOENT ? kErrorPathNotFound : errorFromErrno(err);
        }
        if (S_ISLNK(st.st_mode) && name != "..") {
            if (!linkIsSafe(st, currentStat)) return kErrorAccessDenied;
            if (last && !followLast) {
                out.folder = std::move(current);
                out.folderStat = currentStat;
                out.name = std::move(name);
                return kErrorSuccess;
            }
            if (++links > kMaxLinks) return kErrorCantResolveFilename;
            std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
            ssize_t n = ::readlinkat(current.get(), name.c_str(), target.data(), target.size());
            if (n < 0) return errorFromErrno(errno);
            if (static_cast<size_t>(n) >= target.size()) return kErrorAccessDenied;  // it changed
            target.resize(static_cast<size_t>(n));
            if (target.empty()) return kErrorPathNotFound;
            if (target[0] == '/') {
                if (uint32_t rc = openRoot(current, currentStat); rc != kErrorSuccess) return rc;
            }
            splitInto(target, rest, true);
            continue;
        }
        if (last) {
            out.folder = std::move(current);
            out.folderStat = currentStat;
            out.name = std::move(name);
            return kErrorSuccess;
        }
        if (!S_ISDIR(st.st_mode)) return kErrorPathNotFound;
        Fd next(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // ELOOP or ENOTDIR here mean the name was swapped since it was looked at.
        if (next.get() < 0) {
            int err = errno;
            return err == ELOOP || err == ENOTDIR ? kErrorAccessDenied : errorFromErrno(err);
        }
        if (::fstat(next.get(), &currentStat) != 0) return errorFromErrno(errno);
        current = std::move(next);
    }
    // The path named "/" (or only "." and ".." on the way).
    out.folder = std::move(current);
    out.folderStat = currentStat;
    out.name.clear();
    return kErrorSuccess;
}

uint32_t walkWindows(std::u16string_view path, bool followLast, Place& out) {
    std::string host = toHostPath(path);
    if (host.empty()) return kErrorPathNotFound;
    return walk(host, followLast, out);
}

// The last name as it stands, never followed; 2 when it is missing.
uint32_t lookAtName(const Place& place, struct stat& st) {
    if (place.name.empty()) return kErrorAccessDenied;
    if (::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? kErrorFileNotFound : errorFromErrno(errno);
    return kErrorSuccess;
}

// Opens a regular file by name in its folder, never through a link.
uint32_t openRegular(const Place& place, int flags, Fd& out) {
    if (place.name.empty()) return kErrorAccessDenied;
    out = Fd(::openat(place.folder.get(), place.name.c_str(),
                      flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (out.get() < 0) {
        int err = errno;
        if (err == ENOENT) return kErrorFileNotFound;
        // A link swapped in after the walk, a FIFO or a device: not a file to open.
        if (err == ELOOP || err == ENXIO || err == ENODEV || err == EISDIR)
            return kErrorAccessDenied;
        return errorFromErrno(err);
    }
    struct stat st {};
    if (::fstat(out.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        out.reset();
        return kErrorAccessDenied;
    }
    return kErrorSuccess;
}

constexpr const char* kDosAttributeName = "user.DOSATTRIB";

}  // namespace

uint32_t deleteFileNoPlantedLink(std::u16string_view path) {
    Place place;
    if (uint32_t rc = walkWindows(path, false, place); rc != kErrorSuccess) return report(rc);
    struct stat st {};
    if (uint32_t rc = lookAtName(place, st); rc != kErrorSuccess) return report(rc);
    if (S_ISDIR(st.st_mode)) return report(kErrorAccessDenied);
    if (S_ISREG(st.st_mode) && detail::isReadOnlyMode(st.st_mode))
        return report(kErrorAccessDenied);
    if (detail::heldWithoutDeleteSharing(
            {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}))
        return report(kErrorSharingViolation);
    // unlinkat never follows the name: whatever stands there now goes as a
    // name, and the folder is the one the walk checked.
    if (::unlinkat(place.folder.get(), place.name.c_str(), 0) != 0)
        return report(errno == ENOENT ? kErrorFileNotFound : errorFromErrno(errno));
    return report(kErrorSuccess);
}

uint32_t openFileNoPlantedLink(std::u16string_view path, uint32_t access, uint32_t share,
                               File& out) {
    out.close();
    Place place;
    if (uint32_t rc = walkWindows(path, true, place); rc != kErrorSuccess) return report(rc);
    bool wantRead = access & kGenericRead, wantWrite = access & kGenericWrite;
    int flags = wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (wantWrite) {
        struct stat st {};
        if (uint32_t rc = lookAtName(place, st); rc != kErrorSuccess) return report(rc);
        if (S_ISREG(st.st_mode) && detail::isReadOnlyMode(st.st_mode))
            return report(kErrorAccessDenied);
    }
    Fd fd;
    if (uint32_t rc = openRegular(place, flags, fd); rc != kErrorSuccess) return report(rc);
    return report(detail::FileAccess::adopt(fd.release(), access, share, out));
}

uint32_t createFileNoPlantedLink(std::u16string_view path, uint32_t share, File& out,
                                 uint32_t mode) {
    out.close();
    Place place;
    if (uint32_t rc = walkWindows(path, false, place); rc != kErrorSuccess) return report(rc);
    if (place.name.empty()) return report(kErrorAccessDenied);
    int fd = ::openat(place.folder.get(), place.name.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                      static_cast<mode_t>(mode & 07777));
    if (fd < 0) return report(errno == EEXIST ? kErrorFileExists : errorFromErrno(errno));
    return report(detail::FileAccess::adopt(fd, kGenericWrite, share, out));
}

uint32_t renameFileNoPlantedLink(std::u16string_view from, std::u16string_view to,
                                 bool replaceExisting) {
    Place source, target;
    if (uint32_t rc = walkWindows(from, false, source); rc != kErrorSuccess) return report(rc);
    if (uint32_t rc = walkWindows(to, false, target); rc != kErrorSuccess) return report(rc);
    struct stat st {};
    if (uint32_t rc = lookAtName(source, st); rc != kErrorSuccess) return report(rc);
    if (target.name.empty()) return report(kErrorAccessDenied);
    if (detail::heldWithoutDeleteSharing(
            {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}))
        return report(kErrorSharingViolation);
    struct stat existing {};
    bool targetExists =
        ::fstatat(target.folder.get(), target.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (targetExists && !replaceExisting) return report(kErrorAlreadyExists);
    if (targetExists && S_ISDIR(existing.st_mode)) return report(kErrorAccessDenied);
    unsigned flags = replaceExisting ? 0 : RENAME_NOREPLACE;
    if (::renameat2(source.folder.get(), source.name.c_str(), target.folder.get(),
                    target.name.c_str(), flags) == 0)
        return report(kErrorSuccess);
    int err = errno;
    if (err == EINVAL && !replaceExisting && !targetExists) {
        // The file system has no no-replace rename; the target was checked.
        if (::renameat(source.folder.get(), source.name.c_str(), target.folder.get(),
                       target.name.c_str()) == 0)
            return report(kErrorSuccess);
        err = errno;
    }
    if (err == EEXIST) return report(kErrorAlreadyExists);
    return report(err == ENOENT ? kErrorFileNotFound : errorFromErrno(err));
}

uint32_t setFileAttributesNoPlantedLink(std::u16string_view path, uint32_t attributes) {
    Place place;
    if (uint32_t rc = walkWindows(path, true, place); rc != kErrorSuccess) return report(rc);
    Fd fd;
    if (uint32_t rc = openRegular(place, O_RDONLY, fd); rc != kErrorSuccess) return report(rc);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return report(errorFromErrno(errno));
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & kAttrReadOnly)   ? (mode & ~mode_t(0222))
                    : detail::isReadOnlyMode(mode) ? (mode | S_IWUSR)
                                                   : mode;
    // Writing the extended attribute needs write permission: give the bits
    // before it and take them after.
    if (wanted > mode && ::fchmod(fd.get(), wanted) != 0) return report(errorFromErrno(errno));
    char text[16];
    int n = std::snprintf(text, sizeof text, "0x%x",
                          attributes & (kAttrHidden | kAttrSystem | kAttrArchive));
    if (::fsetxattr(fd.get(), kDosAttributeName, text, static_cast<size_t>(n) + 1, 0) != 0 &&
        errno != ENOTSUP)
        return report(errorFromErrno(errno));
    if (wanted < mode && ::fchmod(fd.get(), wanted) != 0) return report(errorFromErrno(errno));
    return report(kErrorSuccess);
}

uint32_t flushFile(File& file) {
    int fd = detail::FileAccess::descriptor(file);
    if (fd < 0) return report(kErrorInvalidHandle);
    if (::fsync(fd) != 0) return report(errorFromErrno(errno));
    return report(kErrorSuccess);
}

uint32_t flushFolderNoPlantedLink(std::u16string_view folder) {
    Place place;
    if (uint32_t rc = walkWindows(folder, true, place); rc != kErrorSuccess) return report(rc);
    const char* name = place.name.empty() ? "." : place.name.c_str();
    Fd fd(::openat(place.folder.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return report(errno == ENOENT ? kErrorPathNotFound : errorFromErrno(errno));
    if (::fsync(fd.get()) != 0) return report(errorFromErrno(errno));
    return report(kErrorSuccess);
}

}  // namespace platform
