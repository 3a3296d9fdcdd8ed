// Log files created without following links, private to their owner.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/path.h"

namespace platform {

using detail::report;

namespace {

constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// A descriptor closed when it goes.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

uint32_t refusedOr(int err) {
    // A link or something other than a folder where the folder should be.
    if (err == ELOOP || err == ENOTDIR || err == EMLINK) return kErrorAccessDenied;
    return errorFromErrno(err);
}

}  // namespace

uint32_t File::createLog(std::u16string_view path, uint32_t share, File& out) {
    out.close();
    const std::string host = toHostPath(path);
    const size_t slash = host.find_last_of('/');
    if (host.empty() || slash == std::string::npos) return report(kErrorPathNotFound);
    const std::string folder = slash == 0 ? std::string("/") : host.substr(0, slash);
    const std::string name = host.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return report(kErrorInvalidName);

    Descriptor dir;
    dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir.fd < 0) {
        const int err = errno;
        if (err == ENOENT) return report(detail::missingPathCode(folder));
        return report(refusedOr(err));
    }
    struct stat folderStat {};
    if (::fstat(dir.fd, &folderStat) != 0) return report(errorFromErrno(errno));
    if (folderStat.st_uid == ::geteuid() && (folderStat.st_mode & 0077) != 0)
        (void)::fchmod(dir.fd, folderStat.st_mode & 0700);

    Descriptor file;
    file.fd = ::openat(dir.fd, name.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600);
    if (file.fd < 0 && errno != EEXIST) return report(refusedOr(errno));
    if (file.fd < 0) {
        // Something is there already: looked at first, so that a device or
        // a FIFO is never opened, then opened and checked to be that file.
        struct stat there {};
        if (::fstatat(dir.fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
            return report(errorFromErrno(errno));
        if (!S_ISREG(there.st_mode) || there.st_uid != ::geteuid() || there.st_nlink != 1)
            return report(kErrorAccessDenied);
        file.fd = ::openat(dir.fd, name.c_str(), kOpenFlags);
        if (file.fd < 0) return report(refusedOr(errno));
        struct stat opened {};
        if (::fstat(file.fd, &opened) != 0 || opened.st_dev != there.st_dev ||
            opened.st_ino != there.st_ino || opened.st_nlink != 1)
            return report(kErrorAccessDenied);
        if (::ftruncate(file.fd, 0) != 0) return report(errorFromErrno(errno));
        (void)::fchmod(file.fd, 0600);
    }

    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return report(errorFromErrno(errno));
    uint64_t id = 0;
    const uint32_t access = kGenericRead | kGenericWrite;
    const uint32_t shared = detail::registerOpen(
        {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}, access, share, id);
    if (shared != kErrorSuccess) return report(shared);
    out.m_fd = file.fd;
    file.fd = -1;
    out.m_access = access;
    out.m_openId = id;
    out.m_identityAtOpen.device = static_cast<uint64_t>(st.st_dev);
    out.m_identityAtOpen.inode = static_cast<uint64_t>(st.st_ino);
    out.m_identityAtOpen.size = static_cast<uint64_t>(st.st_size);
    out.m_identityAtOpen.modifiedNs =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.m_identityAtOpen.changedNs =
        static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return report(kErrorSuccess);
}

}  // namespace platform
