#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/error.h"
#include "platform/path.h"
#include "platform/shm.h"
#include "platform/text.h"

namespace platform {

namespace {

uint32_t fail(uint32_t code) {
    setLastError(code);
    return code;
}

uint32_t mapObject(int fd, size_t size, bool writable, void*& view) {
    view = ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        view = nullptr;
        return setLastErrorFromErrno(errno);
    }
    return kErrorSuccess;
}

}  // namespace

std::string SharedMemory::objectName(std::u16string_view name) {
    // FNV-1a of the runtime folder tells installations apart.
    uint32_t tag = 2166136261u;
    for (unsigned char c : runtimeFolderHost()) tag = (tag ^ c) * 16777619u;
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "/orvane.%08x.", tag);
    std::string out = prefix;
    for (unsigned char c : toUtf8(name)) {
        if (c == '/' || c < 0x20 || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

SharedMemory::~SharedMemory() { close(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept { *this = std::move(other); }

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
    if (this != &other) {
        close();
        m_view = other.m_view;
        m_size = other.m_size;
        m_created = other.m_created;
        m_objectName = std::move(other.m_objectName);
        other.m_view = nullptr;
        other.m_size = 0;
        other.m_created = false;
    }
    return *this;
}

void SharedMemory::close() {
    if (m_view) ::munmap(m_view, m_size);
    if (m_created) ::shm_unlink(m_objectName.c_str());
    m_view = nullptr;
    m_size = 0;
    m_created = false;
    m_objectName.clear();
}

uint32_t SharedMemory::create(std::u16string_view name, size_t size, SharedMemory& out) {
    out.close();
    if (name.empty() || size == 0) return fail(kErrorInvalidParameter);
    const std::string object = objectName(name);
    bool created = true;
    int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (fd < 0) return fail(setLastErrorFromErrno(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (st.st_size >= 0 && static_cast<size_t>(st.st_size) < size &&
                                  ::ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        uint32_t rc = setLastErrorFromErrno(errno);
        ::close(fd);
        if (created) ::shm_unlink(object.c_str());
        return fail(rc);
    }
    void* view = nullptr;
    uint32_t rc = mapObject(fd, size, true, view);
    ::close(fd);
    if (rc != 0) {
        if (created) ::shm_unlink(object.c_str());
        return fail(rc);
    }
    out.m_view = view;
    out.m_size = size;
    out.m_created = created;
    out.m_objectName = object;
    setLastError(created ? kErrorSuccess : kErrorAlreadyExists);
    return kErrorSuccess;
}

uint32_t SharedMemory::open(std::u16string_view name, bool writable, SharedMemory& out) {
    out.close();
    if (name.empty()) return fail(kErrorInvalidParameter);
    const std::string object = objectName(name);
    int fd = ::shm_open(object.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) return fail(setLastErrorFromErrno(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
        ::close(fd);
        return fail(kErrorFileNotFound);
    }
    void* view = nullptr;
    uint32_t rc = mapObject(fd, static_cast<size_t>(st.st_size), writable, view);
    ::close(fd);
    if (rc != 0) return fail(rc);
    out.m_view = view;
    out.m_size = static_cast<size_t>(st.st_size);
    out.m_objectName = object;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
