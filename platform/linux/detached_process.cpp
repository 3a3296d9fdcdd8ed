// Detached programs: a double fork. The middle process starts a new session
// and forks the program, then ends at once and is reaped here, so the
// program is adopted by init (or the nearest subreaper) and never waited
// for by the starter. Both children report through one close-on-exec pipe
// in 8-byte records (atomic on a pipe): the program's identifier from the
// middle process, an errno from whichever step failed. End of file with no
// errno means the program image was loaded.
//
// Everything the children touch is prepared before the first fork; after it
// only async-signal-safe calls are made.
#include "platform/detached_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/error.h"
#include "platform/process.h"

#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif

extern char** environ;

namespace platform {

namespace {

enum : int32_t { kRecordPid = 1, kRecordErrno = 2 };

struct Record {
    int32_t kind;
    int32_t value;
};

void sendRecord(int fd, int32_t kind, int32_t value) {
    const Record record{kind, value};
    ssize_t ignored = ::write(fd, &record, sizeof record);
    (void)ignored;
}

void markDescriptorsCloseOnExec(int keep) {
#if defined(CLOSE_RANGE_CLOEXEC)
    if (::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    long maxFd = ::sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
    for (int fd = 3; fd < maxFd; ++fd) {
        if (fd != keep) ::close(fd);
    }
}

// The program, after the second fork: only async-signal-safe calls.
[[noreturn]] void execProgram(const char* program, char* const* argv, char* const* envp,
                              const char* workingDirectory, int reportFd) {
    auto fail = [reportFd]() {
        sendRecord(reportFd, kRecordErrno, errno);
        ::_exit(127);
    };
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        ::signal(sig, SIG_DFL);
    }
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0) fail();
    if (::dup2(devNull, 0) < 0 || ::dup2(devNull, 1) < 0 || ::dup2(devNull, 2) < 0) fail();
    if (devNull > 2) ::close(devNull);
    if (workingDirectory != nullptr && ::chdir(workingDirectory) != 0) fail();
    markDescriptorsCloseOnExec(reportFd);
    ::execve(program, argv, envp);
    fail();
    ::_exit(127);
}

// The middle process: a session of its own, the fork of the program, gone.
[[noreturn]] void startProgram(const char* program, char* const* argv, char* const* envp,
                               const char* workingDirectory, int reportFd) {
    if (::setsid() < 0) {
        sendRecord(reportFd, kRecordErrno, errno);
        ::_exit(127);
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        sendRecord(reportFd, kRecordErrno, errno);
        ::_exit(127);
    }
    if (pid == 0) execProgram(program, argv, envp, workingDirectory, reportFd);
    sendRecord(reportFd, kRecordPid, static_cast<int32_t>(pid));
    ::_exit(0);
}

}  // namespace

uint32_t startDetachedProcess(const std::vector<std::string>& argv, const DetachedOptions& options,
                              uint32_t* pid) {
    if (pid != nullptr) *pid = 0;
    if (argv.empty() || argv[0].empty()) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    const std::string program =
        argv[0].find('/') != std::string::npos ? argv[0] : findProgramInPath(argv[0]);
    if (program.empty()) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }

    std::vector<std::string> args = argv;
    std::vector<char*> argPointers;
    argPointers.reserve(args.size() + 1);
    for (std::string& arg : args) argPointers.push_back(arg.data());
    argPointers.push_back(nullptr);

    std::vector<std::string> envs;
    std::vector<char*> envPointers;
    char* const* envp = environ;
    if (options.environment) {
        envs = *options.environment;
        envPointers.reserve(envs.size() + 1);
        for (std::string& entry : envs) envPointers.push_back(entry.data());
        envPointers.push_back(nullptr);
        envp = envPointers.data();
    }
    const char* workingDirectory =
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return setLastErrorFromErrno(errno);

    const pid_t middle = ::fork();
    if (middle < 0) {
        const int err = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return setLastErrorFromErrno(err);
    }
    if (middle == 0) {
        ::close(pipeFds[0]);
        startProgram(program.c_str(), argPointers.data(), envp, workingDirectory, pipeFds[1]);
    }
    ::close(pipeFds[1]);

    int32_t started = 0;
    int32_t childErrno = 0;
    for (;;) {
        Record record{};
        const ssize_t got = ::read(pipeFds[0], &record, sizeof record);
        if (got < 0 && errno == EINTR) continue;
        if (got != static_cast<ssize_t>(sizeof record)) break;
        if (record.kind == kRecordPid) started = record.value;
        if (record.kind == kRecordErrno && childErrno == 0) childErrno = record.value;
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }

    if (childErrno != 0) return setLastErrorFromErrno(childErrno);
    if (started <= 0) {
        // The middle process died without a word (killed): nothing runs.
        setLastError(kErrorInvalidFunction);
        return kErrorInvalidFunction;
    }
    if (pid != nullptr) *pid = static_cast<uint32_t>(started);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
