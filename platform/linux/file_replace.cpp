// Replacing a file in one step: fsync, link for the backup, rename.
#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/error.h"
#include "platform/path.h"

namespace platform {

namespace {

// 0 when nothing is there, 1 a regular file, -1 anything else (a link among them).
int kindOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return S_ISREG(st.st_mode) ? 1 : -1;
}

uint32_t syncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return setLastErrorFromErrno(errno);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    return rc == 0 ? kErrorSuccess : setLastErrorFromErrno(err);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

uint32_t replaceFile(std::u16string_view target, std::u16string_view replacement,
                     std::u16string_view backup) {
    const std::string to = toHostPath(target);
    const std::string from = toHostPath(replacement);
    const std::string keep = backup.empty() ? std::string() : toHostPath(backup);
    if (to.empty() || from.empty() || (!backup.empty() && keep.empty())) {
        setLastError(kErrorPathNotFound);
        return kErrorPathNotFound;
    }
    const int fromKind = kindOf(from);
    if (fromKind == 0) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    const int toKind = kindOf(to);
    if (fromKind < 0 || toKind < 0 || (!keep.empty() && kindOf(keep) < 0)) {
        setLastError(kErrorAccessDenied);
        return kErrorAccessDenied;
    }
    if (const uint32_t rc = syncPath(from, O_RDONLY); rc != 0) return rc;
    if (toKind == 1 && !keep.empty()) {
        // The old file gets its second name beside it, then that name
        // replaces the old backup in one rename.
        const std::string staged = keep + ".tmp";
        ::unlink(staged.c_str());
        if (::link(to.c_str(), staged.c_str()) != 0) return setLastErrorFromErrno(errno);
        if (::rename(staged.c_str(), keep.c_str()) != 0) {
            const int err = errno;
            ::unlink(staged.c_str());
            return setLastErrorFromErrno(err);
        }
    }
    if (::rename(from.c_str(), to.c_str()) != 0) return setLastErrorFromErrno(errno);
    (void)syncPath(folderOf(to), O_RDONLY | O_DIRECTORY);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
