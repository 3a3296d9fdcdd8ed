// The session launch of this build: the program is started with the
// platform's spawn (never a shell), in the service's environment and
// current directory, and is not waited for.
#include "service/session_launch.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
#include "service/service_log.h"

namespace ovsvc {

namespace {

bool isProgram(const std::string& host) {
    struct stat st {};
    return !host.empty() && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & 0111) != 0;
}

// The host path of a program named in Windows form, with or without ".exe".
std::string programHost(std::u16string_view name) {
    std::string host = platform::toHostPath(name);
    if (isProgram(host)) return host;
    if (name.size() > 4 && platform::equalsIgnoreCase(name.substr(name.size() - 4), u".exe")) {
        host = platform::toHostPath(name.substr(0, name.size() - 4));
        if (isProgram(host)) return host;
    }
    return {};
}

// The argument vector the command line gives (host path of the program
// first); empty when no program is named.
std::vector<std::string> sessionLaunchArguments(const std::u16string& commandLine) {
    std::u16string_view line = commandLine;
    std::string program;
    std::u16string_view rest;
    if (!line.empty() && line.front() == u'"') {
        size_t close = line.find(u'"', 1);
        if (close == std::u16string_view::npos) return {};
        program = programHost(line.substr(1, close - 1));
        rest = line.substr(close + 1);
        if (!rest.empty() && rest.front() == u' ') rest.remove_prefix(1);
    } else {
        for (size_t blank = line.find(u' ');; blank = line.find(u' ', blank + 1)) {
            std::u16string_view candidate = line.substr(0, blank);
            program = programHost(candidate);
            if (!program.empty()) {
                rest = blank == std::u16string_view::npos ? std::u16string_view()
                                                          : line.substr(blank + 1);
                break;
            }
            if (blank == std::u16string_view::npos) break;
        }
    }
    if (program.empty()) return {};
    std::vector<std::string> argv{program};
    if (!rest.empty()) argv.push_back(platform::toUtf8(rest));
    return argv;
}

}  // namespace

uint32_t LaunchAppIntoDifferentSession(const std::u16string& commandLine) {
    logText("[INFO] LaunchAppIntoDifferentSession=> Start \n");
    std::vector<std::string> argv = sessionLaunchArguments(commandLine);
    if (argv.empty()) {
        logText("[ERROR] LaunchAppIntoDifferentSession=> no program in " +
                platform::toAnsi(commandLine) + "\n");
        return 0;
    }
    uint32_t pid = 0;
    uint32_t rc = platform::spawnDetached(argv, &pid);
    logFormat("[INFO] LaunchAppIntoDifferentSession=> started: %d, code: %d \n", rc == 0 ? 1 : 0,
              static_cast<int>(rc));
    return 0;
}

}  // namespace ovsvc
