// The interactive user's session: the active session of seat0 as logind
// knows it, and the environment a program started for that user needs to
// reach the user's screen.
//
// A program started for the user runs as root (the caller's own account),
// with a clean environment: a fixed base (PATH, HOME, USER, LOGNAME), the
// caller's ORVANE_* variables, and the display variables of the session
// (DISPLAY and XAUTHORITY, or WAYLAND_DISPLAY, with XDG_RUNTIME_DIR,
// DBUS_SESSION_BUS_ADDRESS and LANG) read from the environment of the
// session's leader or of the user's processes. Nothing else of the user's
// environment is taken over (no LD_PRELOAD, no PATH of the user's choosing).
// Without logind, or when the active session is not graphical, the caller's
// own environment is used as it stands.
//
// What logind and /proc report comes through SessionSource, so a test can
// put a session of its own in their place.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// logind is not running on this machine (ERROR_SERVICE_NOT_ACTIVE).
inline constexpr uint32_t kErrorNoLogind = 1062;
// seat0 has no active session (ERROR_NOT_FOUND).
inline constexpr uint32_t kErrorNoActiveSession = 1168;

struct UserSession {
    std::string id;          // logind's session identifier, e.g. "2"
    uint32_t uid = 0;        // the session's user
    uint32_t leaderPid = 0;  // the session's leader process; 0 when unknown
    std::string type;        // "x11", "wayland", "tty", "mir", "unspecified"
    std::string display;     // the X11 display of an x11 session (":0"); may be empty
};

// True for a session that has a screen a window can be shown on.
bool isGraphicalSession(const UserSession& session);

struct SessionProcess {
    uint32_t pid = 0;
    uint32_t uid = 0;     // real user
    std::string session;  // logind session of the process; empty when none
};

class SessionSource {
public:
    virtual ~SessionSource() = default;

    // 0 and the active session of seat0; kErrorNoLogind when logind is not
    // running, kErrorNoActiveSession when seat0 has no active session, or the
    // error logind gave.
    [[nodiscard]] virtual uint32_t activeSession(UserSession& out) = 0;

    // 0 and every process (thread-group leaders) in identifier order; an
    // error code when the process list cannot be read.
    [[nodiscard]] virtual uint32_t processes(std::vector<SessionProcess>& out) = 0;

    // 0 and the environment a process was started with, as NAME=value
    // entries; 2 when the process is gone, 5 when it may not be read.
    [[nodiscard]] virtual uint32_t processEnvironment(uint32_t pid,
                                                      std::vector<std::string>& out) = 0;

    // The caller's own environment, NAME=value entries.
    virtual std::vector<std::string> callerEnvironment() = 0;
};

// The source in force: the one given to setSessionSource, else logind and
// /proc of this machine.
SessionSource& sessionSource();
// Replaces the source in force (not owned); null goes back to the real one.
void setSessionSource(SessionSource* replacement);

// The environment of a program started for the user of a graphical session:
// the clean base, the caller's ORVANE_* variables, XDG_SESSION_TYPE from the
// session's type, and each display variable from the first process that has
// it, looked at in this order: the session's leader, the user's processes of
// that session, the user's other processes. XDG_RUNTIME_DIR falls back to
// /run/user/<uid>, DISPLAY of an x11 session to the display logind reports.
// The leader counts only while it is listed in the session. Values holding a
// line break, and a LANG that is not a plain locale name, are never taken.
// Sorted by name.
std::vector<std::string> userSessionEnvironment(const UserSession& session,
                                                const std::vector<SessionProcess>& processes,
                                                SessionSource& source);

}  // namespace platform
