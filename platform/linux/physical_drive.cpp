// Physical drives: an image file named in the registry, or a whole disk of
// /sys/block.
#include "platform/physical_drive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr char16_t kMountedDevicesKey[] = u"SYSTEM\\MountedDevices";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// Whole disks of /sys/block: real devices first (those with a device link),
// in name order; loop, RAM and zram devices are never disks here.
std::vector<std::string> wholeDisks() {
    std::vector<std::string> withDevice;
    std::vector<std::string> virtualDisks;
    DIR* dir = ::opendir("/sys/block");
    if (dir == nullptr) return {};
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == ".." || startsWith(name, "loop") || startsWith(name, "ram") ||
            startsWith(name, "zram")) {
            continue;
        }
        struct stat st {};
        std::string device = "/sys/block/" + std::string(name) + "/device";
        (::stat(device.c_str(), &st) == 0 ? withDevice : virtualDisks).emplace_back(name);
    }
    ::closedir(dir);
    std::sort(withDevice.begin(), withDevice.end());
    std::sort(virtualDisks.begin(), virtualDisks.end());
    withDevice.insert(withDevice.end(), virtualDisks.begin(), virtualDisks.end());
    return withDevice;
}

}  // namespace

std::string physicalDriveHostPath(uint32_t index) {
    std::u16string valueName = u"\\\\.\\PhysicalDrive" + toUtf16(std::to_string(index));
    std::u16string mapped;
    if (readString(RegRoot::LocalMachine, kMountedDevicesKey, valueName, mapped) == 0 &&
        !mapped.empty()) {
        std::string host = toUtf8(mapped);
        if (!host.empty() && host.front() == '/') return host;
        return toHostPath(mapped);
    }
    std::vector<std::string> disks = wholeDisks();
    if (index >= disks.size()) return {};
    return "/dev/" + disks[index];
}

PhysicalDrive::~PhysicalDrive() { close(); }

PhysicalDrive::PhysicalDrive(PhysicalDrive&& other) noexcept
    : m_fd(other.m_fd), m_hostPath(std::move(other.m_hostPath)) {
    other.m_fd = -1;
}

PhysicalDrive& PhysicalDrive::operator=(PhysicalDrive&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_hostPath = std::move(other.m_hostPath);
        other.m_fd = -1;
    }
    return *this;
}

uint32_t PhysicalDrive::open(uint32_t index, PhysicalDrive& out) {
    out.close();
    std::string host = physicalDriveHostPath(index);
    if (host.empty()) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    // Non-blocking so that a FIFO named by mistake cannot hold the open.
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return setLastErrorFromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
        ::close(fd);
        setLastError(kErrorAccessDenied);
        return kErrorAccessDenied;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    out.m_fd = fd;
    out.m_hostPath = std::move(host);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t PhysicalDrive::readAt(uint64_t offset, void* buffer, uint32_t size,
                               uint32_t& bytesRead) const {
    bytesRead = 0;
    if (m_fd < 0) {
        setLastError(kErrorInvalidHandle);
        return kErrorInvalidHandle;
    }
    auto* out = static_cast<char*>(buffer);
    while (bytesRead < size) {
        ssize_t n = ::pread(m_fd, out + bytesRead, size - bytesRead,
                            static_cast<off_t>(offset + bytesRead));
        if (n < 0) {
            if (errno == EINTR) continue;
            return setLastErrorFromErrno(errno);
        }
        if (n == 0) break;
        bytesRead += static_cast<uint32_t>(n);
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

void PhysicalDrive::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_hostPath.clear();
}

}  // namespace platform
