// File attributes: read-only is the absence of write bits; hidden, system and
// archive live in the user.DOSATTRIB extended attribute, where the file
// system keeps extended attributes at all.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/path.h"

namespace platform {

using detail::report;

namespace {

constexpr const char* kDosAttributeName = "user.DOSATTRIB";
constexpr uint32_t kKeptBits = kAttrHidden | kAttrSystem | kAttrArchive;

// The kept bits from the extended attribute; false when it is absent or
// not in the "0x<hex>" text form.
bool readDosBits(const std::string& hostPath, uint32_t& bits) {
    if (hostPath.empty()) return false;
    char text[64] = {};
    ssize_t n = ::lgetxattr(hostPath.c_str(), kDosAttributeName, text, sizeof text - 1);
    if (n <= 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    text[n] = 0;
    char* end = nullptr;
    unsigned long value = std::strtoul(text + 2, &end, 16);
    if (end == text + 2) return false;
    bits = static_cast<uint32_t>(value) & kKeptBits;
    return true;
}

}  // namespace

namespace detail {

uint32_t attributesFromStat(const struct stat& st, const std::string& hostPath) {
    if (S_ISLNK(st.st_mode)) return kAttrReparsePoint;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return kAttrDevice;
    uint32_t dos = 0;
    bool hasDos = readDosBits(hostPath, dos);
    if (S_ISDIR(st.st_mode)) return kAttrDirectory | (dos & (kAttrHidden | kAttrSystem));
    uint32_t attributes = hasDos ? dos : kAttrArchive;
    if (isReadOnlyMode(st.st_mode)) attributes |= kAttrReadOnly;
    return attributes ? attributes : kAttrNormal;
}

}  // namespace detail

uint32_t getFileAttributes(std::u16string_view path) {
    std::string host = toHostPath(path);
    if (host.empty()) {
        report(kErrorPathNotFound);
        return kInvalidAttributes;
    }
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) {
        report(detail::pathFailure(errno, host));
        return kInvalidAttributes;
    }
    report(kErrorSuccess);
    return detail::attributesFromStat(st, host);
}

uint32_t setFileAttributes(std::u16string_view path, uint32_t attributes) {
    std::string host = toHostPath(path);
    if (host.empty()) return report(kErrorPathNotFound);
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return report(detail::pathFailure(errno, host));
    // A link keeps no attributes of its own here, and a device node none at all.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return report(kErrorSuccess);
    bool isFile = S_ISREG(st.st_mode);
    // Write bits are given before the extended attribute is written and
    // taken after it, since writing it needs write permission.
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = mode;
    if (isFile && (attributes & kAttrReadOnly))
        wanted &= ~mode_t(0222);
    else if (isFile && detail::isReadOnlyMode(mode))
        wanted |= S_IWUSR;
    if (wanted > mode && ::chmod(host.c_str(), wanted) != 0) return report(errorFromErrno(errno));

    uint32_t current = 0;
    bool hasDos = readDosBits(host, current);
    uint32_t bits = attributes & (isFile ? kKeptBits : (kAttrHidden | kAttrSystem));
    bool needed =
        (bits & (kAttrHidden | kAttrSystem)) || hasDos || (isFile && !(bits & kAttrArchive));
    if (needed && !(hasDos && current == bits)) {
        char text[16];
        int n = std::snprintf(text, sizeof text, "0x%x", bits);
        if (::lsetxattr(host.c_str(), kDosAttributeName, text, static_cast<size_t>(n) + 1, 0) !=
                0 &&
            errno != ENOTSUP) {
            return report(errorFromErrno(errno));
        }
    }
    if (wanted < mode && ::chmod(host.c_str(), wanted) != 0) return report(errorFromErrno(errno));
    return report(kErrorSuccess);
}

}  // namespace platform
