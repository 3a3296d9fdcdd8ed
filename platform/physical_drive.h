// Raw reads of a whole disk, as "\\.\PhysicalDrive0" gives them.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// An open physical drive, read-only. Move-only; closes on destruction.
class PhysicalDrive {
public:
    PhysicalDrive() = default;
    ~PhysicalDrive();
    PhysicalDrive(PhysicalDrive&& other) noexcept;
    PhysicalDrive& operator=(PhysicalDrive&& other) noexcept;
    PhysicalDrive(const PhysicalDrive&) = delete;
    PhysicalDrive& operator=(const PhysicalDrive&) = delete;

    // Opens drive number `index` for reading. The REG_SZ value
    // "\\.\PhysicalDrive<index>" under HKLM\SYSTEM\MountedDevices names its
    // file (a host path, or a Windows-form path) when present, so an image
    // file can stand in for a disk; otherwise the drives are the whole disks
    // of /sys/block in name order, loop, RAM and compressed-RAM devices
    // excluded. 0 when open; 2 when there is no such drive; 5 without the
    // right to read it (or when the name is not a disk or a regular file).
    [[nodiscard]] static uint32_t open(uint32_t index, PhysicalDrive& out);

    bool isOpen() const { return m_fd >= 0; }
    // The host path that was opened.
    const std::string& hostPath() const { return m_hostPath; }

    // Reads up to size bytes at offset. 0 and the count (short or 0 at the
    // end of the drive); otherwise the error.
    [[nodiscard]] uint32_t readAt(uint64_t offset, void* buffer, uint32_t size,
                                  uint32_t& bytesRead) const;
    void close();

private:
    int m_fd = -1;
    std::string m_hostPath;
};

// The host path that drive `index` stands for, without opening it; empty
// when there is none.
std::string physicalDriveHostPath(uint32_t index);

}  // namespace platform
