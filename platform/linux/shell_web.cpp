// Web pages through xdg-open.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/error.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/text.h"

extern char** environ;

namespace platform {

namespace {

bool isWebAddress(const std::string& address) {
    const auto startsWith = [&](const char* prefix) {
        return address.rfind(prefix, 0) == 0 &&
               address.size() > std::char_traits<char>::length(prefix);
    };
    if (!startsWith("https://") && !startsWith("http://")) return false;
    for (unsigned char c : address) {
        if (c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace

uint32_t openWebPage(const std::u16string& address) {
    const std::string url = toUtf8(address);
    if (!isWebAddress(url)) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    const std::string program = findProgramInPath("xdg-open");
    if (program.empty()) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: the browser outlives us and our signals.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string arg0 = program;
    std::string arg1 = url;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return setLastErrorFromErrno(rc);
    // Nobody waits for the opener; this thread only reaps it when it ends.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
