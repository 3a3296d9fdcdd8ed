// The session source of this machine: logind through sd-login (which reads
// logind's state files under /run/systemd, no bus needed) and /proc.
#include <dirent.h>
#include <fcntl.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/error.h"
#include "platform/session.h"

extern char** environ;

namespace platform {

namespace {

// A process environment larger than this is not one a session variable is
// looked for in.
constexpr size_t kMaxEnvironmentBytes = 1u << 20;

struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

uint32_t fromSdError(int negativeErrno) { return errorFromErrno(-negativeErrno); }

// Reads a small system file whole, up to limit bytes; errno-based code on failure.
uint32_t readProcFile(const std::string& path, size_t limit, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errorFromErrno(errno);
    out.clear();
    char buffer[4096];
    uint32_t result = kErrorSuccess;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            result = errorFromErrno(errno);
            break;
        }
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > limit) {
            result = kErrorNotEnoughMemory;
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return result;
}

// The real user of a process from the "Uid:" line of its status; false when
// it cannot be read.
bool realUid(uint32_t pid, uint32_t& uid) {
    std::string status;
    if (readProcFile("/proc/" + std::to_string(pid) + "/status", 64u << 10, status) != 0) {
        return false;
    }
    const size_t at = status.find("\nUid:");
    if (at == std::string::npos) return false;
    const char* text = status.c_str() + at + 5;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text) return false;
    uid = static_cast<uint32_t>(value);
    return true;
}

// The leader of a session from logind's state file of it ("LEADER=<pid>"),
// which every logind version writes; sd-login only gained a call for it
// after the version this system is built against. 0 when unknown.
uint32_t sessionLeader(const std::string& session) {
    if (session.empty() || session.find('/') != std::string::npos || session[0] == '.') return 0;
    std::string state;
    if (readProcFile("/run/systemd/sessions/" + session, 64u << 10, state) != 0) return 0;
    size_t at = state.rfind("\nLEADER=");
    const size_t skip = at == std::string::npos ? 7 : 8;
    if (at == std::string::npos) {
        if (state.compare(0, 7, "LEADER=") != 0) return 0;
        at = 0;
    }
    const char* text = state.c_str() + at + skip;
    char* end = nullptr;
    const unsigned long pid = std::strtoul(text, &end, 10);
    if (end == text || pid > 0x7fffffffUL) return 0;
    return static_cast<uint32_t>(pid);
}

class LogindSessionSource : public SessionSource {
public:
    uint32_t activeSession(UserSession& out) override {
        out = {};
        // logind runs only where systemd is the init system; its state
        // folders may exist without it (made by the package).
        if (::sd_booted() <= 0) return kErrorNoLogind;
        char* rawSession = nullptr;
        uid_t uid = 0;
        int r = ::sd_seat_get_active("seat0", &rawSession, &uid);
        CString session(rawSession);
        if (r == -ENODATA || r == -ENXIO || r == -ENOENT) return kErrorNoActiveSession;
        if (r < 0) return fromSdError(r);
        if (!session) return kErrorNoActiveSession;
        out.id = session.get();
        out.uid = static_cast<uint32_t>(uid);
        out.leaderPid = sessionLeader(out.id);
        char* rawType = nullptr;
        if (::sd_session_get_type(session.get(), &rawType) >= 0) {
            CString type(rawType);
            if (type) out.type = type.get();
        }
        char* rawDisplay = nullptr;
        if (::sd_session_get_display(session.get(), &rawDisplay) >= 0) {
            CString display(rawDisplay);
            if (display) out.display = display.get();
        }
        return kErrorSuccess;
    }

    uint32_t processes(std::vector<SessionProcess>& out) override {
        out.clear();
        DIR* proc = ::opendir("/proc");
        if (proc == nullptr) return errorFromErrno(errno);
        while (const dirent* entry = ::readdir(proc)) {
            char* end = nullptr;
            const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
            if (end == entry->d_name || *end != '\0' || pid == 0) continue;
            SessionProcess process;
            process.pid = static_cast<uint32_t>(pid);
            if (!realUid(process.pid, process.uid)) continue;  // gone meanwhile
            char* rawSession = nullptr;
            if (::sd_pid_get_session(static_cast<pid_t>(pid), &rawSession) >= 0) {
                CString session(rawSession);
                if (session) process.session = session.get();
            }
            out.push_back(std::move(process));
        }
        ::closedir(proc);
        std::sort(out.begin(), out.end(),
                  [](const SessionProcess& a, const SessionProcess& b) { return a.pid < b.pid; });
        return kErrorSuccess;
    }

    uint32_t processEnvironment(uint32_t pid, std::vector<std::string>& out) override {
        out.clear();
        if (pid == 0) return kErrorInvalidParameter;
        std::string bytes;
        const uint32_t result =
            readProcFile("/proc/" + std::to_string(pid) + "/environ", kMaxEnvironmentBytes, bytes);
        if (result != 0) return result;
        size_t start = 0;
        while (start < bytes.size()) {
            size_t end = bytes.find('\0', start);
            if (end == std::string::npos) end = bytes.size();
            if (end > start) out.emplace_back(bytes, start, end - start);
            start = end + 1;
        }
        return kErrorSuccess;
    }

    std::vector<std::string> callerEnvironment() override {
        std::vector<std::string> entries;
        for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
            entries.emplace_back(*entry);
        }
        return entries;
    }
};

LogindSessionSource gLogindSource;
SessionSource* gSessionSource = nullptr;

}  // namespace

SessionSource& sessionSource() {
    return gSessionSource != nullptr ? *gSessionSource : gLogindSource;
}

void setSessionSource(SessionSource* replacement) { gSessionSource = replacement; }

}  // namespace platform
