// Files written beside their target under an unpredictable name and put in
// place by rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"

namespace platform {

using detail::report;

namespace {

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Writes data to a new file beside target and renames it over target.
uint32_t replaceWith(const std::string& target, std::string_view data, mode_t mode) {
    if (target.empty() || target.back() == '/') return report(kErrorInvalidName);
    std::vector<char> name(target.begin(), target.end());
    const std::string suffix = ".XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back(0);
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return report(errorFromErrno(errno));
    const std::string temporary(name.data());
    uint32_t rc = kErrorSuccess;
    if (!writeAll(fd, data.data(), data.size())) {
        rc = errorFromErrno(errno ? errno : EIO);
    } else if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
        rc = errorFromErrno(errno);
    }
    if (::close(fd) != 0 && rc == kErrorSuccess) rc = errorFromErrno(errno);
    if (rc == kErrorSuccess && ::rename(temporary.c_str(), target.c_str()) != 0)
        rc = errorFromErrno(errno);
    if (rc != kErrorSuccess) ::unlink(temporary.c_str());
    return report(rc);
}

}  // namespace

uint32_t replaceHostFile(const std::string& target, std::string_view data) {
    struct stat st {};
    mode_t mode = 0644;
    if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
    return replaceWith(target, data, mode);
}

uint32_t copyHostFileReplacing(const std::string& from, const std::string& target) {
    int fd = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return report(errorFromErrno(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return report(kErrorAccessDenied);
    }
    std::string content;
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int err = errno;
            ::close(fd);
            return report(errorFromErrno(err));
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return replaceWith(target, content, st.st_mode & 07777);
}

}  // namespace platform
