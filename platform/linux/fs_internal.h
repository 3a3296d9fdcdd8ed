// Helpers shared by the Linux file code; not part of the public API.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <utility>

namespace platform {

// The descriptor of an open folder and its host path as it was reached
// (for messages and the extended attributes of its entries).
class OpenFolder {
public:
    OpenFolder(int fd, std::string hostPath) : m_fd(fd), m_hostPath(std::move(hostPath)) {}
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    int fd() const { return m_fd; }
    const std::string& hostPath() const { return m_hostPath; }

private:
    int m_fd;
    std::string m_hostPath;
};

}  // namespace platform

namespace platform::detail {

// Whether a name inside an open folder has a host path other programs can
// open (shorter than PATH_MAX): what is found deeper could be reported but
// never deleted, quarantined or even named in full, so it is not opened.
bool reachableByPath(const OpenFolder& folder, const std::string& name);

// Sets the thread's last error and returns the code, so that every exit of
// a file call reads "return report(code)".
uint32_t report(uint32_t code);

// The code for a failed call on a path: errno goes through errorFromErrno,
// and "not found" becomes 2 or 3 by whether the path's folder exists.
uint32_t pathFailure(int err, const std::string& hostPath);

// Attributes of an entry from its lstat data and its extended attributes;
// with an empty path, from the lstat data alone (as if it had none).
uint32_t attributesFromStat(const struct stat& st, const std::string& hostPath);

// A regular file without any write bit is read-only, as Windows keeps it.
inline bool isReadOnlyMode(mode_t mode) { return (mode & 0222) == 0; }

// This process's table of open files with their access and share modes.
struct FileKey {
    uint64_t device = 0;
    uint64_t inode = 0;
};
// 0 and an id for the new entry, or 32 when the open conflicts with one
// already in the table.
uint32_t registerOpen(FileKey key, uint32_t access, uint32_t share, uint64_t& id);
void unregisterOpen(uint64_t id);
// True when some open of the file lacks delete sharing.
bool heldWithoutDeleteSharing(FileKey key);

}  // namespace platform::detail
