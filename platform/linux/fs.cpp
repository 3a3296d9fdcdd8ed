// Open files: access, share mode and disposition on top of POSIX descriptors.
#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/linux/fs_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/path.h"

namespace platform {

namespace detail {

uint32_t report(uint32_t code) {
    setLastError(code);
    return code;
}

uint32_t pathFailure(int err, const std::string& hostPath) {
    uint32_t code = errorFromErrno(err);
    return code == kErrorFileNotFound ? missingPathCode(hostPath) : code;
}

}  // namespace detail

using detail::report;

namespace {

// An open() failure as Windows would name it. A FIFO without a reader, a
// socket and a device without its driver are no files to open for content.
uint32_t openFailure(int err, const std::string& host) {
    uint32_t code = detail::pathFailure(err, host);
    return code == kErrorNotReady || code == kErrorBusy ? kErrorAccessDenied : code;
}

FileIdentity identityOf(const struct stat& st) {
    constexpr int64_t kNsPerSecond = 1000000000;
    FileIdentity out;
    out.device = static_cast<uint64_t>(st.st_dev);
    out.inode = static_cast<uint64_t>(st.st_ino);
    out.size = static_cast<uint64_t>(st.st_size);
    out.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * kNsPerSecond + st.st_mtim.tv_nsec;
    out.changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * kNsPerSecond + st.st_ctim.tv_nsec;
    return out;
}

}  // namespace

File::~File() { close(); }

File::File(File&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_access(std::exchange(other.m_access, 0)),
      m_openId(std::exchange(other.m_openId, 0)),
      m_identityAtOpen(std::exchange(other.m_identityAtOpen, FileIdentity{})) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_access = std::exchange(other.m_access, 0);
        m_openId = std::exchange(other.m_openId, 0);
        m_identityAtOpen = std::exchange(other.m_identityAtOpen, FileIdentity{});
    }
    return *this;
}

void File::close() {
    if (m_openId) detail::unregisterOpen(m_openId);
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_access = 0;
    m_openId = 0;
    m_identityAtOpen = FileIdentity{};
}

uint32_t File::open(std::u16string_view path, uint32_t access, uint32_t share,
                    Disposition disposition, File& out) {
    out.close();
    struct stat looked {};
    bool lookedValid = false;
    std::string host = detail::toHostPathLooked(path, looked, lookedValid);
    if (host.empty()) return report(kErrorPathNotFound);

    bool create = false, exclusive = false, truncate = false, mustExist = false;
    switch (disposition) {
        case Disposition::CreateNew:
            create = exclusive = true;
            break;
        case Disposition::CreateAlways:
            create = truncate = true;
            break;
        case Disposition::OpenExisting:
            mustExist = true;
            break;
        case Disposition::OpenAlways:
            create = true;
            break;
        case Disposition::TruncateExisting:
            mustExist = truncate = true;
            break;
        default:
            return report(kErrorInvalidParameter);
    }
    bool wantRead = access & kGenericRead, wantWrite = access & kGenericWrite;

    // Two rounds at most: a file that appears between the look and the
    // exclusive create is opened as existing the second time.
    for (int round = 0; round < 2; ++round) {
        struct stat before {};
        // The conversion has just looked the path up; a regular file (not a
        // link, which stat would follow) needs no second look.
        bool existed = false;
        if (round == 0 && lookedValid && S_ISREG(looked.st_mode)) {
            before = looked;
            existed = true;
        } else {
            existed = ::stat(host.c_str(), &before) == 0;
        }
        if (existed) {
            // Never open anything but a regular file: opening a device can
            // have effects of its own, and a FIFO could block.
            if (!S_ISREG(before.st_mode)) return report(kErrorAccessDenied);
            if (exclusive) return report(kErrorFileExists);
            if ((wantWrite || truncate) && detail::isReadOnlyMode(before.st_mode))
                return report(kErrorAccessDenied);
        } else {
            int err = errno;
            if (err != ENOENT) return report(openFailure(err, host));
            if (mustExist) return report(detail::missingPathCode(host));
            struct stat link {};
            // A dangling symbolic link: never create a file at its target.
            if (::lstat(host.c_str(), &link) == 0) return report(kErrorAccessDenied);
        }

        int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
        if (wantWrite || (truncate && existed))
            flags |= (wantRead || !wantWrite) ? O_RDWR : O_WRONLY;
        else
            flags |= O_RDONLY;
        if (!existed) flags |= O_CREAT | O_EXCL;

        int fd = ::open(host.c_str(), flags, 0666);
        if (fd < 0) {
            int err = errno;
            if (err == EEXIST && !exclusive && round == 0) continue;
            return report(openFailure(err, host));
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return report(kErrorAccessDenied);
        }
        if (existed && (wantWrite || truncate) && detail::isReadOnlyMode(st.st_mode)) {
            ::close(fd);
            return report(kErrorAccessDenied);
        }
        uint64_t id = 0;
        uint32_t shared = detail::registerOpen(
            {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}, access, share,
            id);
        if (shared != kErrorSuccess) {
            ::close(fd);
            return report(shared);
        }
        out.m_fd = fd;
        out.m_access = access;
        out.m_openId = id;
        out.m_identityAtOpen = identityOf(st);
        if (existed && truncate && ::ftruncate(fd, 0) != 0) {
            int err = errno;
            out.close();
            return report(errorFromErrno(err));
        }
        // O_NONBLOCK stays: it only kept open() from waiting on a FIFO, and
        // reads and writes of a regular file never wait for it.
        // As on Windows, opening an existing file with a creating disposition
        // succeeds and leaves "already exists" as the last error.
        setLastError(existed && create ? kErrorAlreadyExists : kErrorSuccess);
        return kErrorSuccess;
    }
    return report(kErrorFileExists);
}

uint32_t File::openInFolder(const EntryInFolder& entry, uint32_t share, File& out) {
    out.close();
    if (!entry.folder || entry.hostName.empty()) return report(kErrorInvalidParameter);
    if (!detail::reachableByPath(*entry.folder, entry.hostName))
        return report(kErrorFilenameExcedRange);
    const int folderFd = entry.folder->fd();
    int fd = -1;
    if (!entry.isLink) {
        // A name listed as a file: a link put there since is not followed,
        // and a FIFO is not waited on (then refused below).
        fd = ::openat(folderFd, entry.hostName.c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            return report(err == ENOENT ? kErrorFileNotFound : openFailure(err, std::string()));
        }
    } else {
        // A link, opened as the file it names: first only a reference to
        // what it leads to, which opens nothing; then, if that is a regular
        // file, that very file for reading.
        const int target = ::openat(folderFd, entry.hostName.c_str(), O_PATH | O_CLOEXEC);
        if (target < 0) {
            const int err = errno;
            return report(err == ENOENT ? kErrorFileNotFound : openFailure(err, std::string()));
        }
        struct stat st {};
        if (::fstat(target, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(target);
            return report(kErrorAccessDenied);
        }
        const std::string reopen = "/proc/self/fd/" + std::to_string(target);
        fd = ::open(reopen.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        const int err = errno;
        ::close(target);
        if (fd < 0) return report(openFailure(err, std::string()));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return report(kErrorAccessDenied);
    }
    uint64_t id = 0;
    uint32_t shared =
        detail::registerOpen({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
                             kGenericRead, share, id);
    if (shared != kErrorSuccess) {
        ::close(fd);
        return report(shared);
    }
    out.m_fd = fd;
    out.m_access = kGenericRead;
    out.m_openId = id;
    out.m_identityAtOpen = identityOf(st);
    return report(kErrorSuccess);
}

namespace {

// Reads until `size` bytes or the file's end: at `offset` when one is given
// (the file's position stays), else at the position.
uint32_t readFully(int fd, const uint64_t* offset, char* out, uint32_t size, uint32_t& bytesRead) {
    while (bytesRead < size) {
        const ssize_t n = offset ? ::pread(fd, out + bytesRead, size - bytesRead,
                                           static_cast<off_t>(*offset + bytesRead))
                                 : ::read(fd, out + bytesRead, size - bytesRead);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errorFromErrno(errno);
        }
        if (n == 0) break;
        bytesRead += static_cast<uint32_t>(n);
    }
    return kErrorSuccess;
}

}  // namespace

uint32_t File::read(void* buffer, uint32_t size, uint32_t& bytesRead) {
    bytesRead = 0;
    if (m_fd < 0) return report(kErrorInvalidHandle);
    if (!(m_access & kGenericRead)) return report(kErrorAccessDenied);
    return report(readFully(m_fd, nullptr, static_cast<char*>(buffer), size, bytesRead));
}

uint32_t File::readAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& bytesRead) const {
    bytesRead = 0;
    if (m_fd < 0) return report(kErrorInvalidHandle);
    if (!(m_access & kGenericRead)) return report(kErrorAccessDenied);
    return report(readFully(m_fd, &offset, static_cast<char*>(buffer), size, bytesRead));
}

uint32_t File::write(const void* data, uint32_t size, uint32_t& bytesWritten) {
    bytesWritten = 0;
    if (m_fd < 0) return report(kErrorInvalidHandle);
    if (!(m_access & kGenericWrite)) return report(kErrorAccessDenied);
    const auto* in = static_cast<const char*>(data);
    while (bytesWritten < size) {
        ssize_t n = ::write(m_fd, in + bytesWritten, size - bytesWritten);
        if (n < 0) {
            if (errno == EINTR) continue;
            return report(errorFromErrno(errno));
        }
        bytesWritten += static_cast<uint32_t>(n);
    }
    return report(kErrorSuccess);
}

uint32_t File::size(uint64_t& out) const {
    out = 0;
    if (m_fd < 0) return report(kErrorInvalidHandle);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return report(errorFromErrno(errno));
    out = static_cast<uint64_t>(st.st_size);
    return report(kErrorSuccess);
}

uint32_t File::identity(FileIdentity& out) const {
    out = FileIdentity{};
    if (m_fd < 0) return report(kErrorInvalidHandle);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return report(errorFromErrno(errno));
    out = identityOf(st);
    return report(kErrorSuccess);
}

uint32_t File::seek(int64_t offset, SeekOrigin origin) {
    if (m_fd < 0) return report(kErrorInvalidHandle);
    int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                 : origin == SeekOrigin::Current ? SEEK_CUR
                                                 : SEEK_END;
    if (::lseek(m_fd, static_cast<off_t>(offset), whence) < 0) {
        uint32_t code = errorFromErrno(errno);
        return report(code == kErrorInvalidParameter ? kErrorNegativeSeek : code);
    }
    return report(kErrorSuccess);
}

uint32_t File::setEndOfFile() {
    if (m_fd < 0) return report(kErrorInvalidHandle);
    if (!(m_access & kGenericWrite)) return report(kErrorAccessDenied);
    off_t here = ::lseek(m_fd, 0, SEEK_CUR);
    if (here < 0 || ::ftruncate(m_fd, here) != 0) return report(errorFromErrno(errno));
    return report(kErrorSuccess);
}

uint32_t readWholeFile(std::u16string_view path, std::string& out, uint64_t maxBytes) {
    out.clear();
    File file;
    uint32_t rc = File::open(path, kGenericRead, kShareRead | kShareWrite | kShareDelete,
                             Disposition::OpenExisting, file);
    if (rc != kErrorSuccess) return rc;
    uint64_t size = 0;
    if ((rc = file.size(size)) != kErrorSuccess) return rc;
    if (size > maxBytes) return report(kErrorNotEnoughMemory);
    out.reserve(static_cast<size_t>(size));
    char buffer[65536];
    for (;;) {
        uint32_t got = 0;
        if ((rc = file.read(buffer, sizeof buffer, got)) != kErrorSuccess) return rc;
        if (got == 0) break;
        // The file may grow while it is read; the limit still holds.
        if (out.size() + got > maxBytes) {
            out.clear();
            return report(kErrorNotEnoughMemory);
        }
        out.append(buffer, got);
    }
    return report(kErrorSuccess);
}

uint32_t writeWholeFile(std::u16string_view path, std::string_view data) {
    File file;
    uint32_t rc = File::open(path, kGenericWrite, kShareRead, Disposition::CreateAlways, file);
    if (rc != kErrorSuccess) return rc;
    size_t done = 0;
    while (done < data.size()) {
        uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(data.size() - done, 1u << 30));
        uint32_t written = 0;
        if ((rc = file.write(data.data() + done, chunk, written)) != kErrorSuccess) return rc;
        done += written;
    }
    return report(kErrorSuccess);
}

}  // namespace platform
