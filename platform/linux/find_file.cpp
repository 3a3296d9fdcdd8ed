// Folder enumeration with Windows wildcard patterns.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/path.h"
#include "platform/text.h"

namespace platform {

using detail::report;

OpenFolder::~OpenFolder() {
    if (m_fd >= 0) ::close(m_fd);
}

bool detail::reachableByPath(const OpenFolder& folder, const std::string& name) {
    return folder.hostPath().size() + 1 + name.size() < PATH_MAX;
}

struct FindFile::State {
    std::string folder;              // host path of the folder
    FolderRef open;                  // entries are looked at relative to it
    std::vector<std::string> names;  // host names, in the order they are reported
    // The listing's type (DT_*) and inode of each name; DT_UNKNOWN where
    // the name was not read from the folder.
    std::vector<unsigned char> types;
    std::vector<uint64_t> inodes;
    size_t index = 0;
    bool hiddenAndSystem = true;  // whether the DOS bits are read for each entry
    bool listingOnly = false;     // regular files as the listing tells them
    uint64_t device = 0;          // the folder's own, when listingOnly
};

namespace {

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// "*" any run, "?" exactly one character, case-insensitive. Backtracks only
// to the last "*", so the cost stays linear in practice.
bool globMatch(std::u16string_view pattern, std::u16string_view name) {
    size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || toLower16(pattern[p]) == toLower16(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

bool hasWildcard(std::u16string_view pattern) {
    return pattern.find_first_of(u"*?") != std::u16string_view::npos;
}

bool isDriveRoot(const std::string& host) {
    for (const auto& drive : driveMap())
        if (drive.hostRoot == host) return true;
    return false;
}

// A regular file as the listing names it, without a look at the file.
void fillListedFile(const std::string& name, uint64_t device, uint64_t inode, FindData& entry) {
    entry.name = detail::hostNameToWindows(name);
    entry.hostName = name;
    entry.device = device;
    entry.inode = inode;
    entry.attributes = kAttrArchive;
    entry.size = 0;
    entry.lastWriteUnix = 0;
}

bool fillEntry(int folderFd, const std::string& folder, const std::string& name,
               bool hiddenAndSystem, FindData& entry) {
    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    entry.name = detail::hostNameToWindows(name);
    entry.hostName = name;
    entry.device = static_cast<uint64_t>(st.st_dev);
    entry.inode = static_cast<uint64_t>(st.st_ino);
    entry.attributes = hiddenAndSystem
                           ? detail::attributesFromStat(st, detail::joinHost(folder, name))
                           : detail::attributesFromStat(st, std::string());
    entry.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    entry.lastWriteUnix = static_cast<int64_t>(st.st_mtim.tv_sec);
    return true;
}

// Reads the folder's names that match the pattern into the state, in the
// order they are reported.
uint32_t listNames(int folderFd, const std::string& folder, std::u16string_view namePattern,
                   std::vector<std::string>& names, std::vector<unsigned char>& types,
                   std::vector<uint64_t>& inodes) {
    int listFd = ::dup(folderFd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        int err = errno;
        if (listFd >= 0) ::close(listFd);
        return report(errorFromErrno(err));
    }
    bool dots = !isDriveRoot(folder);  // a drive's root has no "." or ".."
    struct Found {
        std::u16string key;  // the upper-case name
        std::string name;
        unsigned char type;
        uint64_t inode;
        bool operator<(const Found& other) const {
            return key != other.key ? key < other.key : name < other.name;
        }
    };
    std::vector<Found> found;
    while (dirent* d = ::readdir(dir)) {
        std::string_view name(d->d_name);
        if (name == "." || name == "..") continue;
        std::u16string wide = detail::hostNameToWindows(name);
        if (matchesWildcard(namePattern, wide))
            found.push_back({std::move(wide), std::string(name), d->d_type,
                             static_cast<uint64_t>(d->d_ino)});
    }
    ::closedir(dir);
    // Listed in the order of their upper-case names, as NTFS lists them.
    for (auto& item : found) {
        for (auto& c : item.key) c = toUpper16(c);
    }
    std::sort(found.begin(), found.end());
    auto add = [&](std::string name, unsigned char type, uint64_t inode) {
        names.push_back(std::move(name));
        types.push_back(type);
        inodes.push_back(inode);
    };
    if (dots) {
        for (const char* dot : {".", ".."})
            if (matchesWildcard(namePattern, ascii16(dot))) add(dot, DT_UNKNOWN, 0);
    }
    for (auto& item : found) add(std::move(item.name), item.type, item.inode);
    return kErrorSuccess;
}

}  // namespace

bool matchesWildcard(std::u16string_view pattern, std::u16string_view name) {
    if (pattern.empty()) return false;
    if (pattern == u"*" || pattern == u"*.*") return true;
    if (globMatch(pattern, name)) return true;
    bool nameHasDot = name.find(u'.') != std::u16string_view::npos;
    // "name.*" also matches "name" without an extension ...
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*")
        return !nameHasDot && globMatch(pattern.substr(0, pattern.size() - 2), name);
    // ... and "*." matches exactly the names without one.
    if (pattern.back() == u'.') {
        std::u16string_view stem = pattern;
        while (!stem.empty() && stem.back() == u'.') stem.remove_suffix(1);
        return !nameHasDot && globMatch(stem, name);
    }
    return false;
}

FindFile::~FindFile() { close(); }

FindFile::FindFile(FindFile&& other) noexcept : m_state(std::exchange(other.m_state, nullptr)) {}

FindFile& FindFile::operator=(FindFile&& other) noexcept {
    if (this != &other) {
        close();
        m_state = std::exchange(other.m_state, nullptr);
    }
    return *this;
}

void FindFile::close() {
    delete m_state;
    m_state = nullptr;
}

uint32_t FindFile::first(std::u16string_view pattern, FindFile& out, FindData& entry,
                         Detail detail) {
    out.close();
    entry = FindData{};
    size_t sep = pattern.size();
    while (sep > 0 && !isSeparator(pattern[sep - 1])) --sep;
    std::u16string_view folder, namePattern;
    if (sep > 0) {
        folder = pattern.substr(0, sep);  // the folder keeps its separator
        namePattern = pattern.substr(sep);
    } else if (pattern.size() >= 2 && pattern[1] == u':') {
        folder = pattern.substr(0, 2);
        namePattern = pattern.substr(2);
    } else {
        folder = u".";
        namePattern = pattern;
    }
    if (namePattern.empty()) return report(kErrorFileNotFound);

    auto state = std::make_unique<State>();
    state->hiddenAndSystem = detail == Detail::Full;
    state->listingOnly = detail == Detail::Listing;
    state->folder = toHostPath(folder);
    if (state->folder.empty()) return report(kErrorPathNotFound);
    const int folderFd = ::open(state->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        uint32_t code = errorFromErrno(errno);
        return report(code == kErrorFileNotFound ? kErrorPathNotFound : code);
    }
    state->open = std::make_shared<const OpenFolder>(folderFd, state->folder);

    std::string exactName = detail::windowsNameToHost(namePattern);
    struct stat st {};
    if (!hasWildcard(namePattern) && exactName != "." && exactName != ".." &&
        ::fstatat(state->open->fd(), exactName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        // A plain name that exists as given: no need to read the folder.
        state->names.push_back(exactName);
        state->types.push_back(DT_UNKNOWN);
        state->inodes.push_back(0);
    } else {
        uint32_t listed = listNames(state->open->fd(), state->folder, namePattern, state->names,
                                    state->types, state->inodes);
        if (listed != kErrorSuccess) return listed;
    }
    if (state->listingOnly) {
        struct stat self {};
        if (::fstat(state->open->fd(), &self) != 0) return report(errorFromErrno(errno));
        state->device = static_cast<uint64_t>(self.st_dev);
    }
    out.m_state = state.release();
    uint32_t rc = out.next(entry);
    if (rc == kErrorNoMoreFiles) {
        out.close();
        return report(kErrorFileNotFound);
    }
    return rc;
}

uint32_t FindFile::firstIn(const FolderRef& parent, const FindData& folderEntry, FindFile& out,
                           FindData& entry, Detail detail) {
    out.close();
    entry = FindData{};
    if (!parent || folderEntry.hostName.empty()) return report(kErrorInvalidParameter);
    if (!detail::reachableByPath(*parent, folderEntry.hostName))
        return report(kErrorFilenameExcedRange);
    // No link is followed, and a name that is no folder (any more) is not
    // opened at all.
    const int folderFd = ::openat(parent->fd(), folderEntry.hostName.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (folderFd < 0) {
        const int err = errno;
        // O_NOFOLLOW with O_DIRECTORY meets a link as ELOOP or ENOTDIR.
        if (err == ELOOP) return report(kErrorCantResolveFilename);
        struct stat now {};
        if (err == ENOTDIR &&
            ::fstatat(parent->fd(), folderEntry.hostName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(now.st_mode))
            return report(kErrorCantResolveFilename);
        uint32_t code = errorFromErrno(err);
        return report(code == kErrorFileNotFound ? kErrorPathNotFound : code);
    }
    auto state = std::make_unique<State>();
    state->hiddenAndSystem = detail == Detail::Full;
    state->listingOnly = detail == Detail::Listing;
    state->folder = detail::joinHost(parent->hostPath(), folderEntry.hostName);
    state->open = std::make_shared<const OpenFolder>(folderFd, state->folder);
    struct stat st {};
    if (::fstat(folderFd, &st) != 0) return report(errorFromErrno(errno));
    // Another folder moved into its place since it was listed.
    if (static_cast<uint64_t>(st.st_dev) != folderEntry.device ||
        static_cast<uint64_t>(st.st_ino) != folderEntry.inode)
        return report(kErrorAccessDenied);
    state->device = static_cast<uint64_t>(st.st_dev);
    uint32_t listed =
        listNames(folderFd, state->folder, u"*.*", state->names, state->types, state->inodes);
    if (listed != kErrorSuccess) return listed;
    out.m_state = state.release();
    uint32_t rc = out.next(entry);
    if (rc == kErrorNoMoreFiles) {
        out.close();
        return report(kErrorFileNotFound);
    }
    return rc;
}

FolderRef FindFile::folder() const { return m_state ? m_state->open : nullptr; }

uint32_t FindFile::next(FindData& entry) {
    if (!m_state) return report(kErrorInvalidHandle);
    while (m_state->index < m_state->names.size()) {
        const size_t at = m_state->index++;
        const std::string& name = m_state->names[at];
        if (m_state->listingOnly && m_state->types[at] == DT_REG) {
            fillListedFile(name, m_state->device, m_state->inodes[at], entry);
            return report(kErrorSuccess);
        }
        // An entry removed since the folder was read is skipped.
        if (fillEntry(m_state->open->fd(), m_state->folder, name, m_state->hiddenAndSystem, entry))
            return report(kErrorSuccess);
    }
    return report(kErrorNoMoreFiles);
}

}  // namespace platform
