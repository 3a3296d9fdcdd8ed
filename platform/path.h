// Windows-form paths on this host.
//
// Drive C: is the host root "/". The registry values "\DosDevices\X:"
// (REG_SZ, a host directory) under HKLM\SYSTEM\MountedDevices add drives or
// override them, and are read at each use, so a drive mapped while a program
// runs is seen at once. Folders mounted under /media and /run/media get the
// next free letters. When no drive maps "/", Z: does.
//
// "\" and "/" both separate components. A relative path resolves against the
// process's current directory. Each component of an existing path matches
// exactly first, then case-insensitively; trailing blanks and dots of a
// component are dropped as Windows drops them, unless a host name with them
// exists as given (so every host file can still be named). Names that are
// not valid UTF-8 round-trip through the lone-surrogate escape of text.h, and
// a backslash inside a host name becomes U+DC5C, so no host name is lost or
// split. "\\?\X:\..." names X:; UNC and device names map to no drive.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct DriveMapping {
    char16_t letter;       // 'A'..'Z'
    std::string hostRoot;  // absolute host directory, no trailing slash ("/" for the root)
};

// The current drive map, sorted by letter; read anew at each call.
std::vector<DriveMapping> driveMap();

// "C:\\\0D:\\\0\0" style list of every mapped drive, as GetLogicalDriveStrings.
std::u16string logicalDriveStrings();

// The host directory that a drive letter maps to; empty when unmapped.
std::string driveRoot(char16_t letter);

// The drive letter whose root holds a host path (the longest matching root);
// 0 when none does.
char16_t driveOfHostPath(std::string_view hostPath);

// Windows form (absolute or relative) to an absolute host path. Existing
// components are resolved case-insensitively; the rest is kept as given
// (without trailing blanks and dots). ".." never leads above a drive's root.
// Returns an empty string when the drive is not mapped or the text is empty.
std::string toHostPath(std::u16string_view windowsPath);

// The last step of toHostPath for the names of one folder (a walk names
// every file it hands on): a name not found as written is looked up
// ignoring case, and the resolver reads each folder for that once, not once
// for every name. Changes on disk after a folder was read are not seen;
// one resolver serves one short task.
class HostPathResolver {
public:
    HostPathResolver();
    ~HostPathResolver();
    HostPathResolver(const HostPathResolver&) = delete;
    HostPathResolver& operator=(const HostPathResolver&) = delete;
    // The host path toHostPath gives a name inside hostFolder, a folder that
    // exists as that host path.
    std::string resolveName(const std::string& hostFolder, std::u16string_view name);

    struct Lookups;

private:
    std::unique_ptr<Lookups> m_lookups;
};

// Absolute host path (or relative to the current directory) to Windows form,
// e.g. "/home/a/x.txt" -> "C:\home\a\x.txt". Returns empty when no drive
// holds the path.
std::u16string toWindowsPath(std::string_view hostPath);

// Parent folder of a Windows-form path ("C:\a\b" -> "C:\a"; "C:\a" -> "C:\").
std::u16string parentPath(std::u16string_view windowsPath);

// Last component of a Windows-form path.
std::u16string baseName(std::u16string_view windowsPath);

// Joins folder and name with one backslash.
std::u16string joinPath(std::u16string_view folder, std::u16string_view name);

// The folder of the running executable (host form), and the install root
// (its parent).
std::string programFolderHost();
std::string installRootHost();

// Folder for named objects (locks, service state, control sockets):
// $ORVANE_RUNTIME_DIR, else /run/orvane for root, else $XDG_RUNTIME_DIR/orvane,
// else /tmp/orvane-<uid>. Created 0700 on first use. Empty when it cannot
// be made, or exists but is not a folder of this user (a planted link or a
// folder of someone else is never used).
std::string runtimeFolderHost();

// A private folder for scratch files of this user that no other user
// controls (archives are extracted in it): for root "extract" in the
// runtime folder, for anyone else "orvane-<uid>" in the temp folder. Made
// 0700 on first use; empty when it cannot be made or is not this user's own.
std::string scratchFolderHost();

}  // namespace platform

namespace platform {
// True for the host's pseudo file systems (/proc, /sys, /dev, /run and what
// is mounted below them): a drive walk never enters them.
bool isPseudoFileSystemFolder(std::u16string_view windowsPath);
}  // namespace platform
