// Named single-instance mutex: an flock()ed file in the runtime folder. The
// system drops the lock with the last descriptor, so a process that dies
// never leaves the name taken.
#include "platform/mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/path.h"
#include "platform/text.h"

namespace platform {

namespace {

// The lock file's name: letters, digits, "-", "_" and "." (not leading)
// stand as they are; every other byte of the UTF-8 name is written "%XX".
// Over-long names keep a prefix and a hash of the whole name.
std::string lockFileName(std::u16string_view name) {
    std::string utf8 = toUtf8(name);
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || (c == '.' && i > 0);
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    constexpr size_t kMaxName = 200;
    if (out.size() > kMaxName) {
        uint64_t hash = 14695981039346656037ull;  // FNV-1a of the whole name
        for (unsigned char c : utf8) hash = (hash ^ c) * 1099511628211ull;
        char tail[24];
        std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
        out = out.substr(0, kMaxName - 17) + tail;
    }
    return out + ".mutex";
}

}  // namespace

NamedMutex::~NamedMutex() { release(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void NamedMutex::release() {
    if (m_fd >= 0) ::close(m_fd);  // closing the descriptor drops the lock
    m_fd = -1;
}

uint32_t NamedMutex::acquire(std::u16string_view name, NamedMutex& out) {
    out.release();
    if (name.empty()) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    std::string folder = runtimeFolderHost();
    if (folder.empty()) {
        setLastError(kErrorAccessDenied);
        return kErrorAccessDenied;
    }
    std::string path = folder + "/" + lockFileName(name);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) return setLastErrorFromErrno(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        uint32_t code = errorFromErrno(errno);
        ::close(fd);
        // Busy means another open file description holds the lock.
        if (code == kErrorBusy) code = kErrorAlreadyExists;
        setLastError(code);
        return code;
    }
    out.m_fd = fd;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
