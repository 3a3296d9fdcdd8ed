// The session launch. The steps and log lines follow the way a service of
// another system starts a program on the console session's desktop; here
// the active session of seat0 stands for the console session, its leader for
// the session's logon process, reading the leader's environment for opening
// its token, and the session's display environment for the token's
// environment block.
#include "service/session_launch.h"

#include <cstdio>
#include <optional>

#include "platform/detached_process.h"
#include "platform/error.h"
#include "platform/path.h"
#include "platform/privilege.h"
#include "platform/session.h"
#include "platform/text.h"

namespace {

constexpr char16_t kPrefix[] = u"[INFO] LaunchAppIntoDifferentSession=> ";

std::u16string joined(const std::vector<std::u16string>& commandLine) {
    std::u16string text;
    for (size_t i = 0; i < commandLine.size(); ++i) {
        if (i != 0) text += u' ';
        text += commandLine[i];
    }
    return text;
}

// The host argument vector and working folder; false when the program's
// drive maps to no host folder.
bool hostCommand(const std::vector<std::u16string>& commandLine, std::vector<std::string>& argv,
                 std::string& folder) {
    if (commandLine.empty()) return false;
    const std::string program = platform::toHostPath(commandLine[0]);
    if (program.empty()) return false;
    argv.push_back(program);
    for (size_t i = 1; i < commandLine.size(); ++i)
        argv.push_back(platform::toUtf8(commandLine[i]));
    const size_t slash = program.rfind('/');
    folder = slash == 0 ? "/" : program.substr(0, slash);
    return true;
}

}  // namespace

uint32_t LaunchAppIntoDifferentSession(const std::vector<std::u16string>& commandLine,
                                       const SessionLaunchLog& log) {
    auto write = [&log](std::u16string_view text, bool alsoOnConsole = false) {
        if (log) log(std::u16string(kPrefix) + std::u16string(text));
        if (alsoOnConsole) {
            std::fputs(platform::toUtf8(text).c_str(), stdout);
            std::fflush(stdout);
        }
    };

    write(u"Start \n");
    platform::SessionSource& source = platform::sessionSource();
    platform::UserSession session;
    const bool haveSession = source.activeSession(session) == platform::kErrorSuccess;

    std::vector<platform::SessionProcess> processes;
    if (source.processes(processes) != platform::kErrorSuccess) {
        write(u"CreateToolhelp32Snapshot failed \n");
        return 1;
    }
    if (processes.empty()) {
        write(u"Process32First failed \n");
        return 1;
    }

    // The session's leader, if it still runs in the session; none leaves 0,
    // which the next step cannot open.
    uint32_t leader = 0;
    if (haveSession) {
        for (const platform::SessionProcess& process : processes) {
            if (process.pid == session.leaderPid && process.session == session.id) {
                leader = process.pid;
            }
        }
    }

    std::vector<std::string> leaderEnvironment;
    const uint32_t opened = leader == 0 ? platform::kErrorInvalidParameter
                                        : source.processEnvironment(leader, leaderEnvironment);
    if (opened != platform::kErrorSuccess) {
        write(platform::format16(u"Process token open Error: %u\n", opened), true);
    }

    // The program inherits the debug privilege from this process: a
    // program started by root keeps root's capabilities.
    const uint32_t privilege = platform::enablePrivilege(u"SeDebugPrivilege");
    if (privilege == platform::kErrorNoSuchPrivilege) {
        write(platform::format16(u"Lookup Privilege value Error: %u\n", privilege));
    } else if (privilege != platform::kErrorSuccess) {
        write(platform::format16(u"Adjust Privilege value Error: %u\n", privilege), true);
        if (privilege == platform::kErrorNotAllAssigned) {
            write(u"Token does not have the provilege\n", true);
        }
    }

    platform::DetachedOptions options;
    if (haveSession && platform::isGraphicalSession(session)) {
        options.environment = platform::userSessionEnvironment(session, processes, source);
    } else {
        options.environment = source.callerEnvironment();
    }

    const std::u16string text = joined(commandLine);
    write(platform::format16(u"CreateProcessAsUser  %s \n", text.c_str()));
    std::vector<std::string> argv;
    uint32_t result = platform::kErrorPathNotFound;
    if (commandLine.empty()) {
        result = platform::kErrorInvalidParameter;
    } else if (hostCommand(commandLine, argv, options.workingDirectory)) {
        result = platform::startDetachedProcess(argv, options);
    }
    write(platform::format16(u"CreateProcessAsUser result(t/f): %d, code: %d \n",
                             result == platform::kErrorSuccess ? 1 : 0, static_cast<int>(result)));
    return 0;
}
