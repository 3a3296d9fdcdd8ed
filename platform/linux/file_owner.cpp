// Owner and mode of an open file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"

namespace platform {

using detail::report;

uint32_t File::owner(FileOwner& out) const {
    out = FileOwner{};
    if (m_fd < 0) return report(kErrorInvalidHandle);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return report(errorFromErrno(errno));
    out.user = static_cast<uint32_t>(st.st_uid);
    out.group = static_cast<uint32_t>(st.st_gid);
    out.mode = static_cast<uint32_t>(st.st_mode & 07777);
    return report(kErrorSuccess);
}

uint32_t File::setOwner(const FileOwner& owner) {
    if (m_fd < 0) return report(kErrorInvalidHandle);
    uint32_t rc = kErrorSuccess;
    if (::fchown(m_fd, static_cast<uid_t>(owner.user), static_cast<gid_t>(owner.group)) != 0)
        rc = errorFromErrno(errno);
    // The mode is given even when the owner could not be: it is what keeps
    // the content from other eyes.
    mode_t mode = static_cast<mode_t>(owner.mode & 07777);
    if (rc != kErrorSuccess) mode &= ~mode_t(S_ISUID | S_ISGID);
    if (::fchmod(m_fd, mode) != 0 && rc == kErrorSuccess) rc = errorFromErrno(errno);
    return report(rc);
}

}  // namespace platform
