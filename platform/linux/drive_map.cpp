// The drive map: which host folder each drive letter stands for.
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/statfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/linux/drive_map_internal.h"
#include "platform/linux/fork_generation.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform::detail {

namespace {

// /proc/self/mounts writes blanks, tabs, newlines and backslashes in octal.
std::string unescapeMountField(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

bool strictlyUnder(const std::string& path, std::string_view folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// A host folder as the map keeps it: absolute, no "." or "..", no trailing
// slash ("/" for the root). Empty when the text is not an absolute path.
std::string normaliseRoot(const std::string& folder) {
    if (folder.empty() || folder[0] != '/') return {};
    std::vector<std::string> parts;
    std::stringstream stream(folder);
    std::string part;
    while (std::getline(stream, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

// The removable mount points, read again only when the mount table has
// changed: /proc/self/mounts reports a change as a priority event to poll().
class MountWatch {
  public:
    std::vector<std::string> points() {
        std::lock_guard<std::mutex> guard(m_lock);
        refresh();
        return m_points;
    }

    // A number that moves whenever the points may have changed.
    uint64_t generation() {
        std::lock_guard<std::mutex> guard(m_lock);
        refresh();
        return m_generation;
    }

    // Where the table is read from: "" for /proc/self/mounts.
    void setSource(const std::string& hostFile) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        m_source = hostFile;
        ++m_generation;
    }

  private:
    void refresh() {
        // A forked child may have a mount namespace of its own.
        if (m_fd >= 0 && m_forks != forkGeneration()) {
            ::close(m_fd);
            m_fd = -1;
        }
        if (m_fd < 0) {
            m_fd = ::open(m_source.empty() ? "/proc/self/mounts" : m_source.c_str(),
                          O_RDONLY | O_CLOEXEC);
            m_forks = forkGeneration();
            m_valid = false;
        }
        // A plain file tells no change to poll(): it is read every time.
        if (m_fd >= 0 && m_valid && m_source.empty()) {
            pollfd event{m_fd, POLLPRI, 0};
            if (::poll(&event, 1, 0) == 0) return;
        }
        m_points = removableMountPoints(readAll());
        m_valid = m_fd >= 0;
        ++m_generation;
    }

    std::string readAll() {
        std::string text;
        if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) return text;
        char buffer[16384];
        for (;;) {
            ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }

    std::mutex m_lock;
    int m_fd = -1;  // kept open for the life of the process, closed on exec
    uint64_t m_forks = 0;
    bool m_valid = false;
    uint64_t m_generation = 0;
    std::vector<std::string> m_points;
    std::string m_source;
};

MountWatch& mountWatch() {
    static MountWatch watch;
    return watch;
}

std::vector<std::string> currentRemovableMountPoints() { return mountWatch().points(); }

}  // namespace

ScopedMountTable::ScopedMountTable(const std::string& hostFile) {
    mountWatch().setSource(hostFile);
}

ScopedMountTable::~ScopedMountTable() { mountWatch().setSource({}); }

std::vector<std::string> removableMountPoints(const std::string& mountsText) {
    std::vector<std::string> out;
    std::stringstream lines(mountsText);
    std::string line;
    while (std::getline(lines, line)) {
        std::stringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint)) continue;
        std::string point = normaliseRoot(unescapeMountField(mountPoint));
        if (!strictlyUnder(point, "/media") && !strictlyUnder(point, "/run/media")) continue;
        if (std::find(out.begin(), out.end(), point) == out.end()) out.push_back(point);
    }
    return out;
}

namespace {

std::vector<DriveMapping> buildDriveMap(
    const std::vector<std::pair<char16_t, std::string>>& overrides,
    const std::vector<std::string>& removable) {
    std::map<char16_t, std::string> letters;
    letters[u'C'] = "/";
    for (auto& [letter, root] : overrides) {
        std::string folder = normaliseRoot(root);
        if (!folder.empty()) letters[letter] = folder;
    }
    auto mapped = [&](const std::string& root) {
        return std::any_of(letters.begin(), letters.end(),
                           [&](const auto& entry) { return entry.second == root; });
    };
    // Removable media take the lowest free letters from D: on, leaving Z:
    // for the root when it needs one.
    char16_t next = u'D';
    for (const auto& point : removable) {
        if (mapped(point)) continue;
        while (next < u'Z' && letters.count(next)) ++next;
        if (next >= u'Z') break;
        letters[next] = point;
    }
    if (!mapped("/")) {
        for (char16_t letter = u'Z'; letter >= u'A'; --letter) {
            if (!letters.count(letter)) {
                letters[letter] = "/";
                break;
            }
        }
    }
    std::vector<DriveMapping> out;
    for (auto& [letter, root] : letters) out.push_back({letter, root});
    return out;
}

}  // namespace

// Built again only when the registry's overrides or the mount table may
// have changed; every path conversion asks for it, at the cost of one poll.
std::shared_ptr<const std::vector<DriveMapping>> sharedDriveMap() {
    static std::mutex lock;
    static uint64_t overridesSeen = 0, mountsSeen = 0;
    static std::shared_ptr<const std::vector<DriveMapping>> map;
    // Generations first, then the data: a change in between leaves an older
    // generation beside newer data, and the next call builds again.
    // The registry's change count moves with every commit of any process, a
    // registry file that appears, goes or is replaced, and another registry
    // path, and costs no system call while nothing changed.
    const uint64_t overridesNow = registryChangeCount();
    const uint64_t mountsNow = mountWatch().generation();
    {
        std::lock_guard<std::mutex> guard(lock);
        if (map && overridesNow == overridesSeen && mountsNow == mountsSeen) return map;
    }
    auto built = std::make_shared<const std::vector<DriveMapping>>(
        buildDriveMap(registryDriveOverrides(), currentRemovableMountPoints()));
    std::lock_guard<std::mutex> guard(lock);
    map = built;
    overridesSeen = overridesNow;
    mountsSeen = mountsNow;
    return built;
}

std::vector<DriveMapping> currentDriveMap() { return *sharedDriveMap(); }

bool isPseudoFileSystemMount(const std::string& hostPath) {
    struct statfs info {};
    if (::statfs(hostPath.c_str(), &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case PSTOREFS_MAGIC:
        case BPF_FS_MAGIC:
        case BINFMTFS_MAGIC:
        case SELINUX_MAGIC:
        case EFIVARFS_MAGIC:
            return true;
        default:
            return false;
    }
}

}  // namespace platform::detail
