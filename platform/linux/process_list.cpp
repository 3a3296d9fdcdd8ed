// The process list, the modules of a process and the open-by-identifier
// probe, all read from /proc.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/error.h"
#include "platform/linux/process_list_internal.h"
#include "platform/linux/service_runtime.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace platform {

namespace {

std::mutex g_rootLock;
std::string g_root;  // empty: the system's /proc

// The folder the process facts are read from.
std::string procRoot() {
    std::lock_guard<std::mutex> guard(g_rootLock);
    return g_root.empty() ? std::string("/proc") : g_root;
}

bool procRootIsTheSystems() {
    std::lock_guard<std::mutex> guard(g_rootLock);
    return g_root.empty();
}

// Reads a small /proc file whole; false when it cannot be opened or read.
bool readProcFile(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setLastErrorFromErrno(errno);
        return false;
    }
    out.clear();
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            setLastErrorFromErrno(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// A field of /proc/<pid>/status ("Tgid", "PPid", "Name"); false when absent.
bool statusField(const std::string& status, std::string_view field, std::string& value) {
    size_t pos = 0;
    while (pos < status.size()) {
        size_t end = status.find('\n', pos);
        if (end == std::string::npos) end = status.size();
        std::string_view line(status.data() + pos, end - pos);
        if (line.size() > field.size() && line.substr(0, field.size()) == field &&
            line[field.size()] == ':') {
            std::string_view rest = line.substr(field.size() + 1);
            while (!rest.empty() && (rest.front() == '\t' || rest.front() == ' ')) {
                rest.remove_prefix(1);
            }
            value.assign(rest);
            return true;
        }
        pos = end + 1;
    }
    return false;
}

bool parseId(std::string_view text, uint32_t& out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

std::string procPath(uint32_t pid, const char* leaf) {
    std::string path = procRoot() + "/" + std::to_string(pid);
    if (leaf != nullptr) {
        path += '/';
        path += leaf;
    }
    return path;
}

// The kernel marks a mapped or executed file that was removed since.
std::string withoutDeletedMark(std::string path) {
    static constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
        path.resize(path.size() - kDeleted.size());
    }
    return path;
}

// The host path of a process's executable; empty when it cannot be read
// (kernel threads have none, other users' processes need privileges).
std::string executableHostPath(uint32_t pid) {
    std::string link = procPath(pid, "exe");
    std::string target(4096, '\0');
    ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) {
        if (n < 0) setLastErrorFromErrno(errno);
        return {};
    }
    target.resize(static_cast<size_t>(n));
    if (target.empty() || target.front() != '/') return {};
    return withoutDeletedMark(std::move(target));
}

// Thread-group id of a live task from its status file; false when the task
// is gone or unreadable.
bool threadGroupOf(uint32_t id, uint32_t& tgid, std::string* status = nullptr) {
    std::string text;
    if (!readProcFile(procPath(id, "status"), text)) return false;
    std::string value;
    if (!statusField(text, "Tgid", value) || !parseId(value, tgid)) return false;
    if (status != nullptr) *status = std::move(text);
    return true;
}

std::u16string baseNameOfHost(std::string_view hostPath) {
    size_t slash = hostPath.rfind('/');
    return toUtf16(slash == std::string_view::npos ? hostPath : hostPath.substr(slash + 1));
}

}  // namespace

std::vector<ProcessEntry> listProcesses() {
    std::vector<ProcessEntry> processes;
    DIR* dir = ::opendir(procRoot().c_str());
    if (dir == nullptr) {
        setLastErrorFromErrno(errno);
        return processes;
    }
    while (dirent* entry = ::readdir(dir)) {
        uint32_t pid = 0;
        if (!parseId(entry->d_name, pid) || pid == 0) continue;
        std::string status;
        uint32_t tgid = 0;
        // A process that ended since the directory was read is left out.
        if (!threadGroupOf(pid, tgid, &status) || tgid != pid) continue;
        ProcessEntry process;
        process.pid = pid;
        std::string value;
        if (statusField(status, "PPid", value)) parseId(value, process.parentPid);
        std::string exe = executableHostPath(pid);
        if (!exe.empty()) {
            process.exeName = baseNameOfHost(exe);
            process.imagePath = toWindowsPath(exe);
        } else if (statusField(status, "Name", value)) {
            process.exeName = toUtf16(value);
        }
        processes.push_back(std::move(process));
    }
    ::closedir(dir);
    return processes;
}

std::vector<std::u16string> listModules(uint32_t pid) {
    std::vector<std::u16string> modules;
    std::string maps;
    if (!readProcFile(procPath(pid, "maps"), maps)) return modules;
    std::unordered_set<std::string> seen;
    std::vector<std::string> files;
    std::string exe = executableHostPath(pid);
    if (!exe.empty()) {
        seen.insert(exe);
        files.push_back(exe);
    }
    size_t pos = 0;
    while (pos < maps.size()) {
        size_t end = maps.find('\n', pos);
        if (end == std::string::npos) end = maps.size();
        std::string_view line(maps.data() + pos, end - pos);
        pos = end + 1;
        // address perms offset dev inode pathname: the path starts at the
        // first slash after the five fixed fields.
        size_t field = 0;
        size_t i = 0;
        while (i < line.size() && field < 5) {
            while (i < line.size() && line[i] != ' ') ++i;
            while (i < line.size() && line[i] == ' ') ++i;
            ++field;
        }
        if (field < 5 || i >= line.size() || line[i] != '/') continue;
        std::string file = withoutDeletedMark(std::string(line.substr(i)));
        if (seen.insert(file).second) files.push_back(std::move(file));
    }
    for (const std::string& file : files) {
        std::u16string windows = toWindowsPath(file);
        if (!windows.empty()) modules.push_back(std::move(windows));
    }
    return modules;
}

bool countProcessesAndModules(ProcessModuleCount& out, const std::string& procRoot) {
    out = ProcessModuleCount{};
    DIR* dir = ::opendir(procRoot.c_str());
    if (dir == nullptr) {
        setLastErrorFromErrno(errno);
        return false;
    }
    // Only thread-group leaders are listed at the top of /proc, so every
    // numeric entry is a process. Its modules are the distinct paths of its
    // file mappings; the lines of one file lie together in maps, but a file
    // may be mapped again further down, so the paths are sorted once.
    std::string maps;
    std::vector<std::string_view> paths;
    while (dirent* entry = ::readdir(dir)) {
        uint32_t pid = 0;
        if (!parseId(entry->d_name, pid) || pid == 0) continue;
        ++out.processes;
        if (!readProcFile(procRoot + "/" + entry->d_name + "/maps", maps)) continue;
        paths.clear();
        size_t pos = 0;
        while (pos < maps.size()) {
            size_t end = maps.find('\n', pos);
            if (end == std::string::npos) end = maps.size();
            std::string_view line(maps.data() + pos, end - pos);
            pos = end + 1;
            size_t slash = line.find('/');
            // The path is the sixth field; an address or a device never
            // holds a slash.
            if (slash == std::string_view::npos) continue;
            std::string_view path = line.substr(slash);
            if (path.ends_with(" (deleted)")) path.remove_suffix(10);
            if (paths.empty() || paths.back() != path) paths.push_back(path);
        }
        std::sort(paths.begin(), paths.end());
        out.modules +=
            static_cast<uint64_t>(std::unique(paths.begin(), paths.end()) - paths.begin());
    }
    ::closedir(dir);
    if (out.processes == 0) {
        setLastError(kErrorNoMoreFiles);
        return false;
    }
    setLastError(kErrorSuccess);
    return true;
}

std::u16string processImagePath(uint32_t pid) {
    std::string exe = executableHostPath(pid);
    return exe.empty() ? std::u16string() : toWindowsPath(exe);
}

bool probeProcess(uint32_t pid) {
    if (pid == 0 || pid > 0x7FFFFFFFu) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    // The signal-0 check costs one system call and fails at once for the
    // great majority of identifiers, which name nothing; only a live task
    // (a process or one of its threads) goes on to the status file.
    if (procRootIsTheSystems() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    uint32_t tgid = 0;
    if (!threadGroupOf(pid, tgid)) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    // A thread answers under /proc by its own identifier too; only the
    // thread-group leader is a process.
    if (tgid != pid) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    return true;
}

uint32_t maxProcessId() {
    std::string text;
    uint32_t pidMax = 0;
    if (readProcFile(procRoot() + "/sys/kernel/pid_max", text)) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        if (!parseId(text, pidMax)) pidMax = 0;
    }
    // Identifiers run below pid_max; 32768 is the kernel's default.
    if (pidMax < 2) pidMax = 32768;
    return pidMax - 1;
}

namespace detail {

ScopedProcessRoot::ScopedProcessRoot(const std::string& hostFolder) {
    std::lock_guard<std::mutex> guard(g_rootLock);
    g_root = hostFolder;
}

ScopedProcessRoot::~ScopedProcessRoot() {
    std::lock_guard<std::mutex> guard(g_rootLock);
    g_root.clear();
}

}  // namespace detail

uint32_t currentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint64_t processStartTime(uint32_t pid) { return detail::processStartTime(pid); }

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        entries.emplace_back(*entry);
    return entries;
}

uint32_t terminateProcess(uint32_t pid, uint32_t exitCode) {
    // A signal cannot carry an exit code; the process ends as killed.
    (void)exitCode;
    uint32_t tgid = 0;
    // A process of a test's own folder is never a live one to end.
    if (pid == 0 || pid > 0x7FFFFFFFu || !procRootIsTheSystems() || !threadGroupOf(pid, tgid) ||
        tgid != pid) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    if (::kill(static_cast<pid_t>(pid), SIGKILL) != 0) return setLastErrorFromErrno(errno);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t requestProcessExit(uint32_t pid) {
    uint32_t tgid = 0;
    if (pid == 0 || pid > 0x7FFFFFFFu || !threadGroupOf(pid, tgid) || tgid != pid) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0) return setLastErrorFromErrno(errno);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

bool processHasEnded(uint32_t pid) {
    std::string status;
    uint32_t tgid = 0;
    if (pid == 0 || pid > 0x7FFFFFFFu || !threadGroupOf(pid, tgid, &status) || tgid != pid)
        return true;
    std::string state;
    // "Z (zombie)" and "X (dead)": the process has ended.
    return statusField(status, "State", state) && !state.empty() &&
           (state.front() == 'Z' || state.front() == 'X');
}

}  // namespace platform
