// Windows-form paths over the host file system: conversion both ways and the
// resolution of each component (exact first, then case-insensitive).
#include "platform/path.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/linux/drive_map_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/text.h"

namespace platform {

namespace detail {

// U+DC5C is the lone-surrogate escape of the byte 0x5C, the backslash.
constexpr char16_t kEscapedBackslash = 0xDC5C;

std::u16string hostNameToWindows(std::string_view name) {
    if (name.find('\\') == std::string_view::npos) return toUtf16(name);
    std::u16string out;
    size_t start = 0;
    for (;;) {
        size_t slash = name.find('\\', start);
        out += toUtf16(name.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos) break;
        out.push_back(kEscapedBackslash);
        start = slash + 1;
    }
    return out;
}

std::string windowsNameToHost(std::u16string_view name) {
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t mark = name.find(kEscapedBackslash, start);
        out += toUtf8(name.substr(start, mark == std::u16string_view::npos ? mark : mark - start));
        if (mark == std::u16string_view::npos) break;
        out.push_back('\\');
        start = mark + 1;
    }
    return out;
}

std::string joinHost(const std::string& folder, std::string_view name) {
    std::string out = folder;
    if (out.empty() || out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

uint32_t missingPathCode(const std::string& hostPath) {
    size_t slash = hostPath.find_last_of('/');
    std::string parent = slash == std::string::npos ? "." : hostPath.substr(0, slash);
    if (parent.empty()) parent = "/";
    struct stat st {};
    if (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 2;
    return 3;
}

}  // namespace detail

namespace {

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool exists(const std::string& hostPath, struct stat* found = nullptr) {
    struct stat st {};
    if (::lstat(hostPath.c_str(), &st) != 0) return false;
    if (found) *found = st;
    return true;
}

}  // namespace

// The folders a HostPathResolver has read: each one's names as they are,
// and by their lower-cased Windows form (the smallest host name in byte
// order for each).
struct HostPathResolver::Lookups {
    struct Folder {
        bool readable = false;
        std::unordered_set<std::string> names;
        std::unordered_map<std::u16string, std::string> byLowered;
    };
    std::unordered_map<std::string, Folder> folders;
};

namespace {

// The current directory; empty when it cannot be named (it was removed),
// so that a relative path then names nothing rather than the root.
std::string hostCurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) return buffer.data();
        if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}

// "/a//b/./c/../d" -> "/a/b/d"; relative paths are taken from the current
// directory first.
std::string normaliseHost(std::string_view path) {
    std::string full(path);
    if (path.empty() || path[0] != '/') {
        std::string current = hostCurrentDirectory();
        if (current.empty() || current[0] != '/') return {};
        full = detail::joinHost(current, path);
    }
    std::vector<std::string_view> parts;
    std::string_view rest(full);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (auto part : parts) {
        out.push_back('/');
        out.append(part);
    }
    return out.empty() ? "/" : out;
}

// The mapping whose root holds a normalised host path, longest root first.
const DriveMapping* holdingDrive(const std::vector<DriveMapping>& map, std::string_view path) {
    const DriveMapping* best = nullptr;
    for (const auto& drive : map) {
        const std::string& root = drive.hostRoot;
        bool holds = root == "/" || (path.substr(0, root.size()) == root &&
                                     (path.size() == root.size() || path[root.size()] == '/'));
        if (holds && (!best || root.size() > best->hostRoot.size())) best = &drive;
    }
    return best;
}

std::string rootOf(const std::vector<DriveMapping>& map, char16_t letter) {
    letter = toUpper16(letter);
    for (const auto& drive : map)
        if (drive.letter == letter) return drive.hostRoot;
    return {};
}

std::u16string windowsFromHost(const std::vector<DriveMapping>& map, std::string_view hostPath) {
    if (hostPath.empty()) return {};
    std::string path = normaliseHost(hostPath);
    if (path.empty()) return {};
    const DriveMapping* drive = holdingDrive(map, path);
    if (!drive) return {};
    std::u16string out{drive->letter, u':', u'\\'};
    std::string_view rest =
        std::string_view(path).substr(drive->hostRoot == "/" ? 1 : drive->hostRoot.size());
    if (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
    bool first = true;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        if (!first) out.push_back(u'\\');
        out += detail::hostNameToWindows(rest.substr(0, slash));
        first = false;
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    return out;
}

// Windows drops trailing blanks and dots of a component when it makes or
// looks up a name.
std::u16string_view stripTrailing(std::u16string_view name) {
    while (!name.empty() && (name.back() == u' ' || name.back() == u'.')) name.remove_suffix(1);
    return name;
}

// The entry of a folder whose name equals name ignoring case; the smallest
// such name in byte order when there are several, so the answer is stable.
bool findIgnoringCase(const std::string& folder, std::u16string_view name, std::string& found) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    bool any = false;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view candidate(entry->d_name);
        if (candidate == "." || candidate == "..") continue;
        if (!equalsIgnoreCase(detail::hostNameToWindows(candidate), name)) continue;
        if (!any || candidate < found) found.assign(candidate);
        any = true;
    }
    ::closedir(dir);
    return any;
}

// A folder as a resolver's lookups hold it: read at its first lookup only.
const HostPathResolver::Lookups::Folder& folderIn(HostPathResolver::Lookups& lookups,
                                                  const std::string& folder) {
    auto [it, inserted] = lookups.folders.try_emplace(folder);
    HostPathResolver::Lookups::Folder& names = it->second;
    if (!inserted) return names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    names.readable = true;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view candidate(entry->d_name);
        if (candidate == "." || candidate == "..") continue;
        names.names.emplace(candidate);
        auto [slot, added] =
            names.byLowered.try_emplace(toLower(detail::hostNameToWindows(candidate)), candidate);
        if (!added && candidate < slot->second) slot->second.assign(candidate);
    }
    ::closedir(dir);
    return names;
}

// Whether folder holds an entry of this host name: from the folder's names
// when there are lookups (a folder they cannot read is asked by path).
bool holdsIn(HostPathResolver::Lookups* lookups, const std::string& folder, const std::string& name) {
    if (lookups) {
        const HostPathResolver::Lookups::Folder& names = folderIn(*lookups, folder);
        if (names.readable) return names.names.count(name) != 0;
    }
    return exists(detail::joinHost(folder, name));
}

// findIgnoringCase through a resolver's lookups.
bool findIgnoringCaseIn(HostPathResolver::Lookups* lookups, const std::string& folder,
                        std::u16string_view name, std::string& found) {
    if (!lookups) return findIgnoringCase(folder, name, found);
    const HostPathResolver::Lookups::Folder& names = folderIn(*lookups, folder);
    if (!names.readable) return findIgnoringCase(folder, name, found);
    const auto match = names.byLowered.find(toLower(name));
    if (match == names.byLowered.end()) return false;
    found = match->second;
    return true;
}

// looked, when given, gets the lstat of the result when the path exists
// exactly as given (lookedValid says so).
// One name of a path in `current`, a folder found: its host path, exactly
// as written first, then without trailing blanks and dots, then ignoring
// case; false when none is there. A name of only blanks and dots stays in
// current. With lookups, the folder's names are read once for all names.
bool findName(HostPathResolver::Lookups* lookups, const std::string& current,
              std::u16string_view part, std::string& next) {
    const std::u16string_view stripped = stripTrailing(part);
    // A host name with trailing dots or blanks is still found as itself.
    const std::string asWritten = detail::windowsNameToHost(part);
    if (holdsIn(lookups, current, asWritten)) {
        next = detail::joinHost(current, asWritten);
        return true;
    }
    if (stripped.empty()) {
        next = current;
        return true;
    }
    if (stripped.size() != part.size()) {
        const std::string withoutTrail = detail::windowsNameToHost(stripped);
        if (holdsIn(lookups, current, withoutTrail)) {
            next = detail::joinHost(current, withoutTrail);
            return true;
        }
    }
    std::string found;
    if (!findIgnoringCaseIn(lookups, current, stripped, found)) return false;
    next = detail::joinHost(current, found);
    return true;
}

std::string hostFromWindows(const std::vector<DriveMapping>& map, std::u16string_view path,
                            struct stat* looked = nullptr, bool* lookedValid = nullptr) {
    if (lookedValid) *lookedValid = false;
    if (path.empty()) return {};
    // Long-path and NT prefixes name the same places.
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) &&
        (path[2] == u'?' || path[2] == u'.') && isSeparator(path[3])) {
        if (path[2] == u'.') return {};  // a device, not a file
        path.remove_prefix(4);
    } else if (path.size() >= 4 && isSeparator(path[0]) && path[1] == u'?' && path[2] == u'?' &&
               isSeparator(path[3])) {
        path.remove_prefix(4);
    }
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) return {};  // UNC

    std::u16string absolute;
    bool hasDrive = path.size() >= 2 && path[1] == u':' &&
                    ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
    if (hasDrive && path.size() >= 3 && isSeparator(path[2])) {
        absolute.assign(path);
    } else {
        std::u16string current = windowsFromHost(map, hostCurrentDirectory());
        if (current.empty()) return {};
        if (hasDrive) {
            // "D:name" is relative to the current folder only when that is on D:.
            if (toUpper16(path[0]) == toUpper16(current[0]))
                absolute = current + u'\\' + std::u16string(path.substr(2));
            else
                absolute = std::u16string{path[0], u':', u'\\'} + std::u16string(path.substr(2));
        } else if (isSeparator(path[0])) {
            absolute = current.substr(0, 2) + std::u16string(path);
        } else {
            absolute = current + u'\\' + std::u16string(path);
        }
    }

    std::string root = rootOf(map, absolute[0]);
    if (root.empty()) return {};

    // Lexical pass: "." and ".." go, never above the drive's root.
    std::vector<std::u16string_view> parts;
    std::u16string_view rest = std::u16string_view(absolute).substr(3);
    while (!rest.empty()) {
        size_t sep = 0;
        while (sep < rest.size() && !isSeparator(rest[sep])) ++sep;
        std::u16string_view part = rest.substr(0, sep);
        rest = sep < rest.size() ? rest.substr(sep + 1) : std::u16string_view();
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }

    // The whole path as given exists: every component matched exactly.
    std::string exact = root;
    for (auto part : parts) {
        if (exact.empty() || exact.back() != '/') exact.push_back('/');
        exact += detail::windowsNameToHost(part);
    }
    if (parts.empty()) return exact;
    if (exists(exact, looked)) {
        if (lookedValid) *lookedValid = looked != nullptr;
        return exact;
    }

    std::string current = root;
    bool missing = false;
    for (auto part : parts) {
        if (!missing) {
            std::string next;
            if (findName(nullptr, current, part, next)) {
                current = std::move(next);
                continue;
            }
            missing = true;
        }
        const std::u16string_view stripped = stripTrailing(part);
        if (!stripped.empty())
            current = detail::joinHost(current, detail::windowsNameToHost(stripped));
    }
    return current;
}

bool isUnder(std::string_view path, std::string_view folder) {
    if (folder == "/") return true;
    return path.substr(0, folder.size()) == folder &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

std::vector<DriveMapping> driveMap() { return detail::currentDriveMap(); }

std::u16string logicalDriveStrings() {
    std::u16string out;
    for (const auto& drive : driveMap()) {
        out += std::u16string{drive.letter, u':', u'\\'};
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

std::string driveRoot(char16_t letter) { return rootOf(driveMap(), letter); }

char16_t driveOfHostPath(std::string_view hostPath) {
    if (hostPath.empty()) return 0;
    auto map = driveMap();
    std::string path = normaliseHost(hostPath);
    const DriveMapping* drive = path.empty() ? nullptr : holdingDrive(map, path);
    return drive ? drive->letter : 0;
}

std::string toHostPath(std::u16string_view windowsPath) {
    return hostFromWindows(*detail::sharedDriveMap(), windowsPath);
}

HostPathResolver::HostPathResolver() : m_lookups(std::make_unique<Lookups>()) {}

HostPathResolver::~HostPathResolver() = default;

std::string HostPathResolver::resolveName(const std::string& hostFolder,
                                          std::u16string_view name) {
    std::string resolved;
    if (findName(m_lookups.get(), hostFolder, name, resolved)) return resolved;
    // Not there: kept as written, without trailing blanks and dots.
    return detail::joinHost(hostFolder, detail::windowsNameToHost(stripTrailing(name)));
}

namespace detail {
std::string toHostPathLooked(std::u16string_view windowsPath, struct stat& looked, bool& valid) {
    return hostFromWindows(*sharedDriveMap(), windowsPath, &looked, &valid);
}
}  // namespace detail

std::u16string toWindowsPath(std::string_view hostPath) {
    return windowsFromHost(driveMap(), hostPath);
}

std::u16string parentPath(std::u16string_view windowsPath) {
    std::u16string_view path = windowsPath;
    size_t rootLength = path.size() >= 2 && path[1] == u':' ? 2 : 0;
    if (path.size() > rootLength && isSeparator(path[rootLength])) ++rootLength;
    while (path.size() > rootLength && isSeparator(path.back())) path.remove_suffix(1);
    size_t sep = path.size();
    while (sep > rootLength && !isSeparator(path[sep - 1])) --sep;
    if (sep <= rootLength) return std::u16string(path.substr(0, rootLength));
    path = path.substr(0, sep);
    while (path.size() > rootLength && isSeparator(path.back())) path.remove_suffix(1);
    return std::u16string(path);
}

std::u16string baseName(std::u16string_view windowsPath) {
    std::u16string_view path = windowsPath;
    while (!path.empty() && isSeparator(path.back())) path.remove_suffix(1);
    size_t sep = path.size();
    while (sep > 0 && !isSeparator(path[sep - 1])) --sep;
    std::u16string_view name = path.substr(sep);
    if (sep == 0 && name.size() == 2 && name[1] == u':') return {};  // "C:" has no name
    return std::u16string(name);
}

std::u16string joinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string out(folder);
    while (!name.empty() && isSeparator(name.front())) name.remove_prefix(1);
    if (!out.empty() && !isSeparator(out.back())) out.push_back(u'\\');
    out += name;
    return out;
}

std::string programFolderHost() {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    std::string exe(buffer.data(), static_cast<size_t>(n));
    // A program replaced on disk while it runs still knows its folder.
    constexpr std::string_view kDeleted = " (deleted)";
    if (exe.size() > kDeleted.size() && exe.ends_with(kDeleted))
        exe.resize(exe.size() - kDeleted.size());
    size_t slash = exe.find_last_of('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : exe.substr(0, slash);
}

std::string installRootHost() {
    std::string folder = programFolderHost();
    if (folder.empty() || folder == "/") return folder;
    size_t slash = folder.find_last_of('/');
    return slash == 0 ? "/" : folder.substr(0, slash);
}

bool isPseudoFileSystemFolder(std::u16string_view windowsPath) {
    auto map = driveMap();
    std::string host = hostFromWindows(map, windowsPath);
    if (host.empty()) return false;
    host = normaliseHost(host);
    if (host.empty()) return false;
    // Archives extracted by root land in the runtime folder under /run.
    if (detail::isInScratchFolder(host)) return false;
    const DriveMapping* drive = holdingDrive(map, host);
    for (std::string_view pseudo : {"/proc", "/sys", "/dev", "/run"}) {
        // Removable media mounted under /run/media are drives of their own.
        if (isUnder(host, pseudo) &&
            !(drive && drive->hostRoot != "/" && isUnder(drive->hostRoot, pseudo)))
            return true;
    }
    return detail::isPseudoFileSystemMount(host);
}

}  // namespace platform
