// The environment of a program started for the interactive user, built from
// what the session source reports. No system call here: the source is the
// only way to the machine.
#include "platform/session.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace platform {

namespace {

// A program started as root gets root's own base, not the user's.
constexpr const char* kBaseEnvironment[] = {
    "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
    "HOME=/root",
    "USER=root",
    "LOGNAME=root",
};

// What a window needs to reach the user's screen, bus and language.
constexpr std::string_view kSessionVariables[] = {
    "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
    "LANG",
};

// The caller's variables with this prefix name our own installation (the
// registry, the runtime folder): the started program must use the same.
constexpr std::string_view kOwnPrefix = "ORVANE_";

std::string_view nameOf(std::string_view entry) {
    const size_t equals = entry.find('=');
    return equals == std::string_view::npos ? std::string_view() : entry.substr(0, equals);
}

bool acceptableValue(std::string_view value) {
    return !value.empty() && value.find('\n') == std::string_view::npos &&
           value.find('\r') == std::string_view::npos;
}

// A locale name only: one with a slash would make the C library load locale
// files from wherever the user put them, into a program running as root.
bool acceptableLocale(std::string_view value) {
    for (char c : value) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '@' || c == '-';
        if (!plain) return false;
    }
    return !value.empty();
}

bool acceptable(std::string_view name, std::string_view value) {
    return name == "LANG" ? acceptableLocale(value) : acceptableValue(value);
}

// The value of NAME in a list of entries; empty when absent.
std::string_view valueIn(const std::vector<std::string>& entries, std::string_view name) {
    for (const std::string& entry : entries) {
        if (nameOf(entry) == name) return std::string_view(entry).substr(name.size() + 1);
    }
    return {};
}

// The order in which processes are asked for the session's variables.
std::vector<uint32_t> candidateOrder(const UserSession& session,
                                     const std::vector<SessionProcess>& processes) {
    // The leader only while it is still in the session: a number reused by
    // another process after the leader ended names someone else.
    const auto isLeader = [&session](const SessionProcess& process) {
        return process.pid != 0 && process.pid == session.leaderPid &&
               process.session == session.id;
    };
    std::vector<uint32_t> order;
    for (const SessionProcess& process : processes) {
        if (isLeader(process)) order.push_back(process.pid);
    }
    for (const SessionProcess& process : processes) {
        if (process.uid == session.uid && process.session == session.id && !isLeader(process)) {
            order.push_back(process.pid);
        }
    }
    for (const SessionProcess& process : processes) {
        if (process.uid == session.uid && process.session != session.id) {
            order.push_back(process.pid);
        }
    }
    return order;
}

}  // namespace

bool isGraphicalSession(const UserSession& session) {
    return session.type == "x11" || session.type == "wayland" || session.type == "mir";
}

std::vector<std::string> userSessionEnvironment(const UserSession& session,
                                                const std::vector<SessionProcess>& processes,
                                                SessionSource& source) {
    std::map<std::string, std::string, std::less<>> result;
    for (const char* entry : kBaseEnvironment) {
        const std::string_view text(entry);
        result[std::string(nameOf(text))] = std::string(text.substr(nameOf(text).size() + 1));
    }
    for (const std::string& entry : source.callerEnvironment()) {
        const std::string_view name = nameOf(entry);
        if (name.size() > kOwnPrefix.size() && name.substr(0, kOwnPrefix.size()) == kOwnPrefix) {
            result[std::string(name)] = entry.substr(name.size() + 1);
        }
    }
    if (!session.type.empty()) result["XDG_SESSION_TYPE"] = session.type;

    std::map<std::string_view, std::string> found;
    for (uint32_t pid : candidateOrder(session, processes)) {
        if (found.size() == std::size(kSessionVariables)) break;
        std::vector<std::string> environment;
        if (source.processEnvironment(pid, environment) != 0) continue;
        for (std::string_view name : kSessionVariables) {
            if (found.count(name) != 0) continue;
            const std::string_view value = valueIn(environment, name);
            if (acceptable(name, value)) found[name] = std::string(value);
        }
    }
    if (found.count("XDG_RUNTIME_DIR") == 0) {
        found["XDG_RUNTIME_DIR"] = "/run/user/" + std::to_string(session.uid);
    }
    if (found.count("DISPLAY") == 0 && session.type == "x11" && acceptableValue(session.display)) {
        found["DISPLAY"] = session.display;
    }
    for (auto& [name, value] : found) result[std::string(name)] = value;

    std::vector<std::string> entries;
    entries.reserve(result.size());
    for (const auto& [name, value] : result) entries.push_back(name + "=" + value);
    return entries;
}

}  // namespace platform
