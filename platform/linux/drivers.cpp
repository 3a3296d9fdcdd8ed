// Kernel modules from /proc/modules, their files from modules.dep.
#include "platform/drivers.h"

#include <sys/utsname.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/path.h"

namespace platform {

namespace {

// Module names are compared as the kernel compares them: '-' and '_' alike.
std::string normaliseName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c == '-') c = '_';
    }
    return out;
}

std::string modulesRootOf(const DriverSources& sources) {
    if (!sources.modulesRoot.empty()) return sources.modulesRoot;
    utsname uts{};
    if (::uname(&uts) != 0) return {};
    return std::string("/lib/modules/") + uts.release;
}

// "kernel/fs/ext4/ext4.ko.zst" -> "ext4"
std::string moduleNameOfFile(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t ko = base.find(".ko");
    if (ko == std::string_view::npos || ko == 0) return {};
    std::string_view rest = base.substr(ko + 3);
    if (!rest.empty() && rest != ".xz" && rest != ".gz" && rest != ".zst") return {};
    return normaliseName(base.substr(0, ko));
}

uint64_t parseAddress(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return 0;
        }
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return value;
}

}  // namespace

uint32_t listLoadedDrivers(std::vector<LoadedDriver>& out, const DriverSources& sources) {
    out.clear();
    const std::string path = sources.modulesList.empty() ? "/proc/modules" : sources.modulesList;
    std::ifstream in(path);
    if (!in) {
        // A kernel built without loadable modules has no list: no drivers.
        if (errno == ENOENT && sources.modulesList.empty()) {
            setLastError(kErrorSuccess);
            return kErrorSuccess;
        }
        return setLastErrorFromErrno(errno == 0 ? ENOENT : errno);
    }
    std::string line;
    while (std::getline(in, line)) {
        // name size refcount dependencies state address [taint]
        std::istringstream fields(line);
        std::string name, size, refs, deps, state, address;
        if (!(fields >> name)) continue;
        fields >> size >> refs >> deps >> state >> address;
        LoadedDriver driver;
        driver.name = name;
        driver.loadAddress = parseAddress(address);
        out.push_back(std::move(driver));
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t DriverFiles::load(const DriverSources& sources, DriverFiles& out) {
    out.m_files.clear();
    const std::string root = modulesRootOf(sources);
    if (root.empty()) return setLastErrorFromErrno(ENOENT);
    std::ifstream in(root + "/modules.dep");
    if (!in) return setLastErrorFromErrno(errno == 0 ? ENOENT : errno);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;
        std::string file = line.substr(0, colon);
        std::string name = moduleNameOfFile(file);
        if (name.empty()) continue;
        if (file.front() != '/') file = root + "/" + file;
        out.m_files.emplace(std::move(name), std::move(file));
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t DriverFiles::fileName(std::string_view moduleName, std::u16string& out) const {
    out.clear();
    auto it = m_files.find(normaliseName(moduleName));
    if (it == m_files.end()) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    out = toWindowsPath(it->second);
    if (out.empty()) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
