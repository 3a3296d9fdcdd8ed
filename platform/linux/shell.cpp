// Detached starts by double fork: the middle child ends at once and is
// reaped here, so the program runs on as a child of init and nothing waits
// for it. Only async-signal-safe calls run between fork and exec.
#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/path.h"
#include "platform/process.h"

namespace platform {

uint32_t startDetachedProgram(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    std::string program =
        argv[0].find('/') == std::string::npos ? findProgramInPath(argv[0]) : argv[0];
    if (program.empty() || ::access(program.c_str(), X_OK) != 0) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    // A pipe tells whether exec succeeded: it closes on exec, or carries errno.
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0) return setLastErrorFromErrno(errno);
    pid_t middle = ::fork();
    if (middle < 0) {
        int err = errno;
        ::close(status[0]);
        ::close(status[1]);
        return setLastErrorFromErrno(err);
    }
    if (middle == 0) {
        ::close(status[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild < 0) {
            int err = errno;
            (void)!::write(status[1], &err, sizeof err);
            ::_exit(1);
        }
        if (grandchild > 0) ::_exit(0);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(program.c_str(), args.data());
        int err = errno;
        (void)!::write(status[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(status[1]);
    int waited = 0;
    while (::waitpid(middle, &waited, 0) < 0 && errno == EINTR) {
    }
    int childErr = 0;
    ssize_t n;
    while ((n = ::read(status[0], &childErr, sizeof childErr)) < 0 && errno == EINTR) {
    }
    ::close(status[0]);
    if (n == static_cast<ssize_t>(sizeof childErr)) return setLastErrorFromErrno(childErr);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t openFileForUser(std::u16string_view path) {
    std::string host = toHostPath(path);
    if (host.empty()) {
        setLastError(kErrorPathNotFound);
        return kErrorPathNotFound;
    }
    return startDetachedProgram({"xdg-open", host});
}

}  // namespace platform
