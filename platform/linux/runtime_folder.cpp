// The folder for named objects: lock files, service state, control sockets.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/fs.h"
#include "platform/linux/path_internal.h"
#include "platform/path.h"

namespace platform {

namespace {

// Makes the folder (and missing parents) and checks that it is a real
// folder of this user that nobody else can write into.
bool ensurePrivateFolder(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        std::string parent = folder.substr(0, slash);
        if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return false;
    return true;
}

std::string chosenFolder() {
    const char* own = std::getenv("ORVANE_RUNTIME_DIR");
    if (own && own[0] == '/') return own;
    if (::geteuid() == 0) return "/run/orvane";
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/orvane";
    return "/tmp/orvane-" + std::to_string(::geteuid());
}

}  // namespace

std::string runtimeFolderHost() {
    std::string folder = chosenFolder();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return ensurePrivateFolder(folder) ? folder : std::string();
}

namespace {
std::string chosenScratchFolder() {
    std::string folder;
    if (::geteuid() == 0) {
        folder = chosenFolder();
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        folder += "/extract";
    } else {
        folder = toHostPath(tempPath());
        if (folder.empty()) return {};
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        folder += "/orvane-" + std::to_string(::geteuid());
    }
    return folder;
}
}  // namespace

std::string scratchFolderHost() {
    if (::geteuid() == 0 && runtimeFolderHost().empty()) return {};
    std::string folder = chosenScratchFolder();
    if (folder.empty()) return {};
    return ensurePrivateFolder(folder) ? folder : std::string();
}

namespace detail {
bool isInScratchFolder(std::string_view hostPath) {
    const std::string folder = chosenScratchFolder();
    if (folder.empty() || hostPath.size() < folder.size()) return false;
    if (hostPath.substr(0, folder.size()) != folder) return false;
    return hostPath.size() == folder.size() || hostPath[folder.size()] == '/';
}
}  // namespace detail

}  // namespace platform
