// Whole-file operations by name: delete, move, copy, folders, the current
// directory and the temp folder.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/path.h"

namespace platform {

using detail::report;

namespace {

uint32_t lstatFailure(const std::string& host) { return detail::pathFailure(errno, host); }

detail::FileKey keyOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::string hostFolderOf(const std::string& host) {
    size_t slash = host.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : host.substr(0, slash);
}

// Copies content, mode, modification time and the DOS attributes of one
// regular file over another; the target is made anew or truncated.
uint32_t copyContent(std::u16string_view from, std::u16string_view to, bool failIfExists) {
    File source;
    uint32_t rc = File::open(from, kGenericRead, kShareRead | kShareWrite | kShareDelete,
                             Disposition::OpenExisting, source);
    if (rc != kErrorSuccess) return rc;
    std::string fromHost = toHostPath(from);
    struct stat st {};
    if (::stat(fromHost.c_str(), &st) != 0) return report(errorFromErrno(errno));
    // A copy onto the file itself would truncate what it is about to read.
    struct stat existing {};
    std::string targetHost = toHostPath(to);
    if (!targetHost.empty() && ::stat(targetHost.c_str(), &existing) == 0 &&
        existing.st_dev == st.st_dev && existing.st_ino == st.st_ino) {
        return report(failIfExists ? kErrorFileExists : kErrorSharingViolation);
    }

    File target;
    rc = File::open(to, kGenericWrite, kShareRead,
                    failIfExists ? Disposition::CreateNew : Disposition::CreateAlways, target);
    if (rc != kErrorSuccess) return rc;
    std::string toHost = toHostPath(to);
    std::vector<char> buffer(1u << 20);
    for (;;) {
        uint32_t got = 0, put = 0;
        if ((rc = source.read(buffer.data(), static_cast<uint32_t>(buffer.size()), got)) != 0 ||
            got == 0 || (rc = target.write(buffer.data(), got, put)) != 0) {
            break;
        }
    }
    target.close();
    if (rc != kErrorSuccess) {
        ::unlink(toHost.c_str());  // no half copy is left behind
        return report(rc);
    }
    char dos[64];
    ssize_t n = ::lgetxattr(fromHost.c_str(), "user.DOSATTRIB", dos, sizeof dos);
    if (n > 0) ::lsetxattr(toHost.c_str(), "user.DOSATTRIB", dos, static_cast<size_t>(n), 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, toHost.c_str(), times, 0);
    ::chmod(toHost.c_str(), st.st_mode & 0777);
    return report(kErrorSuccess);
}

}  // namespace

uint32_t deleteFile(std::u16string_view path) {
    std::string host = toHostPath(path);
    if (host.empty()) return report(kErrorPathNotFound);
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return report(lstatFailure(host));
    if (S_ISDIR(st.st_mode)) return report(kErrorAccessDenied);
    if (S_ISREG(st.st_mode) && detail::isReadOnlyMode(st.st_mode))
        return report(kErrorAccessDenied);
    if (detail::heldWithoutDeleteSharing(keyOf(st))) return report(kErrorSharingViolation);
    if (::unlink(host.c_str()) != 0) return report(lstatFailure(host));
    return report(kErrorSuccess);
}

uint32_t moveFile(std::u16string_view from, std::u16string_view to) {
    std::string fromHost = toHostPath(from), toHost = toHostPath(to);
    if (fromHost.empty() || toHost.empty()) return report(kErrorPathNotFound);
    struct stat st {};
    if (::lstat(fromHost.c_str(), &st) != 0) return report(lstatFailure(fromHost));
    if (detail::heldWithoutDeleteSharing(keyOf(st))) return report(kErrorSharingViolation);
    struct stat existing {};
    if (::lstat(toHost.c_str(), &existing) == 0) {
        if (existing.st_dev != st.st_dev || existing.st_ino != st.st_ino)
            return report(kErrorAlreadyExists);
        // The target names the same file in other case: a rename of case only.
        toHost = detail::joinHost(hostFolderOf(toHost), detail::windowsNameToHost(baseName(to)));
        if (toHost == fromHost) return report(kErrorSuccess);
    }
    if (::renameat2(AT_FDCWD, fromHost.c_str(), AT_FDCWD, toHost.c_str(), RENAME_NOREPLACE) == 0)
        return report(kErrorSuccess);
    int err = errno;
    if (err == EINVAL && ::lstat(toHost.c_str(), &existing) != 0) {
        // The file system has no no-replace rename; the target was checked.
        if (::rename(fromHost.c_str(), toHost.c_str()) == 0) return report(kErrorSuccess);
        err = errno;
    }
    uint32_t code = errorFromErrno(err);
    if (code == kErrorFileExists) return report(kErrorAlreadyExists);
    if (code == kErrorNotSameDevice && S_ISREG(st.st_mode)) {
        // Another file system: copy, then remove the original, as Windows does.
        uint32_t rc = copyContent(from, to, true);
        if (rc != kErrorSuccess) return rc;
        if (::unlink(fromHost.c_str()) != 0) return report(errorFromErrno(errno));
        return report(kErrorSuccess);
    }
    return report(code == kErrorFileNotFound ? detail::missingPathCode(toHost) : code);
}

uint32_t copyFile(std::u16string_view from, std::u16string_view to, bool failIfExists) {
    return copyContent(from, to, failIfExists);
}

uint32_t createDirectory(std::u16string_view path) {
    std::string host = toHostPath(path);
    if (host.empty()) return report(kErrorPathNotFound);
    if (::mkdir(host.c_str(), 0777) == 0) return report(kErrorSuccess);
    uint32_t code = detail::pathFailure(errno, host);
    return report(code == kErrorFileExists ? kErrorAlreadyExists : code);
}

uint32_t removeDirectory(std::u16string_view path) {
    std::string host = toHostPath(path);
    if (host.empty()) return report(kErrorPathNotFound);
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return report(lstatFailure(host));
    if (S_ISLNK(st.st_mode)) {
        // A link to a folder goes as itself; its target stays.
        struct stat target {};
        if (::stat(host.c_str(), &target) != 0 || !S_ISDIR(target.st_mode))
            return report(kErrorDirectory);
        if (::unlink(host.c_str()) != 0) return report(errorFromErrno(errno));
        return report(kErrorSuccess);
    }
    if (!S_ISDIR(st.st_mode)) return report(kErrorDirectory);
    if (::rmdir(host.c_str()) == 0) return report(kErrorSuccess);
    uint32_t code = errorFromErrno(errno);
    return report(code == kErrorFileExists ? kErrorDirNotEmpty : code);
}

std::u16string currentDirectory() {
    std::vector<char> buffer(4096);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
    return toWindowsPath(buffer.data());
}

uint32_t setCurrentDirectory(std::u16string_view path) {
    // A path that starts with "/" is taken as a host path.
    std::string host =
        !path.empty() && path[0] == u'/' ? detail::windowsNameToHost(path) : toHostPath(path);
    if (host.empty()) return report(kErrorPathNotFound);
    if (::chdir(host.c_str()) == 0) return report(kErrorSuccess);
    uint32_t code = errorFromErrno(errno);
    struct stat st {};
    if (code == kErrorPathNotFound && ::stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        code = kErrorDirectory;  // a file, not a folder
    return report(code);
}

std::u16string tempPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string host = tmp && tmp[0] == '/' ? tmp : "/tmp";
    std::u16string out = toWindowsPath(host);
    if (!out.empty() && out.back() != u'\\') out.push_back(u'\\');
    return out;
}

uint32_t createPrivateTempFolder(std::u16string_view prefix, std::u16string& out) {
    return createPrivateFolder(tempPath(), prefix, out);
}

uint32_t createPrivateFolder(std::u16string_view parent, std::u16string_view prefix,
                             std::u16string& out) {
    out.clear();
    for (char16_t c : prefix)
        if (c == u'\\' || c == u'/' || c == 0) return report(kErrorInvalidName);
    std::string folder = toHostPath(parent);
    if (folder.empty()) return report(kErrorPathNotFound);
    std::string templ = detail::joinHost(folder, detail::windowsNameToHost(prefix) + "XXXXXX");
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back(0);
    if (!::mkdtemp(name.data())) return report(errorFromErrno(errno));
    out = toWindowsPath(name.data());
    return report(kErrorSuccess);
}

uint32_t diskFreeBytes(std::u16string_view path, uint64_t& freeBytes) {
    freeBytes = 0;
    std::string host = toHostPath(path);
    if (host.empty()) return report(kErrorPathNotFound);
    struct statvfs fs {};
    if (::statvfs(host.c_str(), &fs) != 0) return report(detail::pathFailure(errno, host));
    freeBytes = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
    return report(kErrorSuccess);
}

}  // namespace platform
