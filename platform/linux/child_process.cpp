// Child processes: fork and exec with an argument vector (never a shell), a
// file-size limit and a process group of their own, waited for with a time
// limit and a stop predicate, and killed as a whole group.
//
// posix_spawn cannot set resource limits, so the child is made with fork and
// exec. Everything the child needs (paths, argv, envp) is prepared before the
// fork; between fork and exec the child calls only async-signal-safe
// functions, and reports a failure to exec through a close-on-exec pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/error.h"
#include "platform/process.h"

#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif

extern char** environ;

namespace platform {

namespace {

// ERROR_CANCELLED: the wait gave up because the caller asked to stop.
constexpr uint32_t kErrorCancelled = 1223;

// The program's host path: a name with a slash is taken as it stands (exec
// reports what is wrong with it), a bare name is searched in PATH. Empty when
// nothing fits.
std::string resolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    return findProgramInPath(program);
}

// Marks every descriptor from 3 up close-on-exec, so the child inherits only
// its three standard streams. Falls back to closing them one by one.
void closeInheritedDescriptors(int keep) {
#if defined(CLOSE_RANGE_CLOEXEC)
    if (::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    long maxFd = ::sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
    for (int fd = 3; fd < maxFd; ++fd) {
        if (fd != keep) ::close(fd);
    }
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const char* program, char* const* argv, const char* workingDirectory,
                            const SpawnOptions& options, int errorPipe) {
    auto fail = [errorPipe]() {
        int err = errno;
        ssize_t ignored = ::write(errorPipe, &err, sizeof(err));
        (void)ignored;
        ::_exit(127);
    };

    // Default signal handling and an empty mask, whatever the parent had.
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        ::signal(sig, SIG_DFL);
    }

    if (options.newProcessGroup && ::setpgid(0, 0) != 0) fail();

    int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0) fail();
    // Standard input is always empty: a program that asks a question (a
    // password, an overwrite) reads end of file instead of waiting forever.
    if (::dup2(devNull, 0) < 0) fail();
    if (options.discardOutput) {
        if (::dup2(devNull, 1) < 0 || ::dup2(devNull, 2) < 0) fail();
    }
    if (devNull > 2) ::close(devNull);

    if (options.maxFileSizeBytes != 0) {
        struct rlimit limit {};
        limit.rlim_cur = options.maxFileSizeBytes;
        limit.rlim_max = options.maxFileSizeBytes;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) fail();
        // A write past the limit then fails with EFBIG instead of killing
        // the program, so it can report the one file and go on or end
        // cleanly. An ignored signal stays ignored across exec.
        ::signal(SIGXFSZ, SIG_IGN);
    }

    if (workingDirectory && ::chdir(workingDirectory) != 0) fail();

    closeInheritedDescriptors(errorPipe);
    ::execve(program, argv, environ);
    fail();
    ::_exit(127);
}

uint32_t exitCodeFromStatus(int status) {
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return kErrorStillActive;
}

}  // namespace

ChildProcess::~ChildProcess() { kill(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(other.m_pid), m_exitCode(other.m_exitCode) {
    other.m_pid = -1;
    other.m_exitCode = kErrorStillActive;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        m_pid = other.m_pid;
        m_exitCode = other.m_exitCode;
        other.m_pid = -1;
        other.m_exitCode = kErrorStillActive;
    }
    return *this;
}

uint32_t ChildProcess::spawn(const std::vector<std::string>& argv, const SpawnOptions& options,
                             ChildProcess& out) {
    out.kill();
    out.m_exitCode = kErrorStillActive;
    if (argv.empty() || argv[0].empty()) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    const std::string program = resolveProgram(argv[0]);
    if (program.empty()) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }

    // Everything the child touches is built before the fork.
    std::vector<std::string> args = argv;
    std::vector<char*> argPointers;
    argPointers.reserve(args.size() + 1);
    for (auto& arg : args) argPointers.push_back(arg.data());
    argPointers.push_back(nullptr);
    const char* workingDirectory =
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return setLastErrorFromErrno(errno);

    pid_t pid = ::fork();
    if (pid < 0) {
        int err = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return setLastErrorFromErrno(err);
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        execChild(program.c_str(), argPointers.data(), workingDirectory, options, pipeFds[1]);
    }

    ::close(pipeFds[1]);
    // The child sets its own group too; doing it here as well closes the
    // window in which a kill of the group would miss it. It fails harmlessly
    // once the child has exec'd.
    if (options.newProcessGroup) ::setpgid(pid, pid);

    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(pipeFds[0], &childErrno, sizeof(childErrno));
    } while (got < 0 && errno == EINTR);
    ::close(pipeFds[0]);

    if (got == static_cast<ssize_t>(sizeof(childErrno))) {
        // The exec failed: the child has exited; reap it.
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return setLastErrorFromErrno(childErrno);
    }

    out.m_pid = pid;
    out.m_exitCode = kErrorStillActive;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

bool ChildProcess::isRunning() {
    if (m_pid <= 0) return false;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(m_pid, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return true;
    if (got == m_pid) {
        m_exitCode = exitCodeFromStatus(status);
    } else {
        // Reaped elsewhere or not our child any more: nothing left to wait for.
        m_exitCode = 0;
    }
    m_pid = -1;
    return false;
}

uint32_t ChildProcess::wait(std::chrono::milliseconds timeout,
                            const std::function<bool()>& shouldStop) {
    if (m_pid <= 0) return kErrorSuccess;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Polls with a short sleep that grows to 10 ms: a quick child is seen at
    // once, a long one costs little, and a stop is seen within 10 ms.
    auto pause = std::chrono::microseconds(200);
    while (true) {
        if (!isRunning()) return kErrorSuccess;
        if (shouldStop && shouldStop()) {
            kill();
            setLastError(kErrorCancelled);
            return kErrorCancelled;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill();
            setLastError(kErrorWaitTimeout);
            return kErrorWaitTimeout;
        }
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(10)) pause *= 2;
    }
}

void ChildProcess::kill() {
    if (m_pid <= 0) return;
    // The group's leader is still unreaped here, so its id cannot have been
    // reused: the signal reaches only our child and what it started.
    if (::kill(-m_pid, SIGKILL) != 0) ::kill(m_pid, SIGKILL);
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(m_pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    m_exitCode = got == m_pid ? exitCodeFromStatus(status) : 128u + SIGKILL;
    m_pid = -1;
}

}  // namespace platform
