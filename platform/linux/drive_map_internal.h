// The drive map and mount facts behind path.h; not part of the public API.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/path.h"

namespace platform::detail {

// The drive map as it stands now: C: is "/", the registry's MountedDevices
// values add or override drives, removable media get the next free letters,
// and Z: maps "/" when nothing else does. Sorted by letter.
std::vector<DriveMapping> currentDriveMap();
// The same map without a copy, for conversions made by the thousand.
std::shared_ptr<const std::vector<DriveMapping>> sharedDriveMap();

// The "\DosDevices\X:" REG_SZ values under HKLM\SYSTEM\MountedDevices as
// letters and host folders, in the order the registry lists them. Read anew
// at each call; the drive map reads them again only when the registry's
// change count has moved.
std::vector<std::pair<char16_t, std::string>> registryDriveOverrides();

// Mount points below /media and /run/media, in mount order, from a
// /proc/self/mounts style text.
std::vector<std::string> removableMountPoints(const std::string& mountsText);

// For tests: while one lives, removable media are read from a mounts file
// of the test's own (read anew at each look) instead of /proc/self/mounts.
class ScopedMountTable {
public:
    explicit ScopedMountTable(const std::string& hostFile);
    ~ScopedMountTable();
    ScopedMountTable(const ScopedMountTable&) = delete;
    ScopedMountTable& operator=(const ScopedMountTable&) = delete;
};

// True when the folder lies on a kernel pseudo file system (proc, sysfs,
// devpts, cgroup, debugfs, ...).
bool isPseudoFileSystemMount(const std::string& hostPath);

}  // namespace platform::detail
