// Child processes: fork and exec with an argument vector (never a shell), a
// file-size limit and a process group of their own, waited for with a time
// limit and a stop predicate, and killed as a whole group.
//
// posix_spawn cannot set resource limits, so the child is made with fork and
// exec. Everything the child needs (paths, argv, envp) is prepared before the
// fork; between fork and exec the child calls only async-signal-safe
// functions (raw system calls for its credentials, which act on its one
// thread), and reports a failure to exec through a close-on-exec pipe.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
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
void closeInheritedDescriptors(int keep, int keepToo) {
#if defined(CLOSE_RANGE_CLOEXEC)
    if (::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    long maxFd = ::sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
    for (int fd = 3; fd < maxFd; ++fd) {
        if (fd != keep && fd != keepToo) ::close(fd);
    }
}

// The descriptor a confined child reads its input file from.
constexpr int kInputFd = 3;
constexpr char kInputFdPath[] = "/proc/self/fd/3";

// User ids of confined children are drawn from this range, far above any
// account, any container's mapped range and the nobody account.
constexpr uint32_t kConfinedIdFirst = 0x6F000000u;
constexpr uint32_t kConfinedIdCount = 0x00F00000u;

// The whole environment of a confined child.
const char* const kConfinedEnvironment[] = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", nullptr};

// What the child needs beyond argv, prepared before the fork.
struct ChildPlan {
    const char* workingDirectory = nullptr;
    int ownFolderFd = -1;
    int inputFd = -1;
    int outputFd = -1;          // write end for the child's standard output; -1 = per options
    int64_t confinedUser = -1;  // user and group id to run as; -1 = keep
    pid_t parent = 0;
    char* const* envp = nullptr;
};

// A user id that no account, no group and no running process has.
int64_t freshConfinedId() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> pick(0, kConfinedIdCount - 1);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const uint32_t id = kConfinedIdFirst + pick(generator);
        struct passwd pw {};
        struct passwd* pwFound = nullptr;
        struct group gr {};
        struct group* grFound = nullptr;
        char buffer[4096];
        if (::getpwuid_r(id, &pw, buffer, sizeof buffer, &pwFound) == 0 && pwFound) continue;
        if (::getgrgid_r(id, &gr, buffer, sizeof buffer, &grFound) == 0 && grFound) continue;
        return id;
    }
    return -1;
}

// Drops every capability from the bounding set, then the credentials of
// root for the confined id. Raw system calls: the libc wrappers of set*id
// signal every thread of the process, and the forked child has only one.
bool dropPrivileges(int64_t id) {
    for (int cap = 0; cap <= 63; ++cap) {
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL && errno != EPERM)
            return false;
    }
    if (id >= 0) {
        if (::syscall(SYS_setgroups, 0, nullptr) != 0) return false;
        if (::syscall(SYS_setresgid, id, id, id) != 0) return false;
        if (::syscall(SYS_setresuid, id, id, id) != 0) return false;
        if (::getuid() == 0 || ::geteuid() == 0) return false;
    }
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, data) != 0) return false;
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const char* program, char* const* argv, const ChildPlan& plan,
                            const SpawnOptions& options, int errorPipe) {
    auto fail = [errorPipe]() {
        int err = errno;
        ssize_t ignored = ::write(errorPipe, &err, sizeof(err));
        (void)ignored;
        ::_exit(127);
    };
    const char* workingDirectory = plan.workingDirectory;

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
    if (plan.outputFd >= 0) {
        if (::dup2(plan.outputFd, 1) < 0 || ::dup2(devNull, 2) < 0) fail();
    } else if (options.discardOutput) {
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

    if (plan.ownFolderFd >= 0) {
        if (plan.confinedUser >= 0 &&
            ::fchown(plan.ownFolderFd, static_cast<uid_t>(plan.confinedUser),
                     static_cast<gid_t>(plan.confinedUser)) != 0)
            fail();
        if (::fchdir(plan.ownFolderFd) != 0) fail();
    } else if (workingDirectory && ::chdir(workingDirectory) != 0) {
        fail();
    }

    if (options.confine) {
        if (!dropPrivileges(plan.confinedUser)) fail();
        // Set after the change of user, which clears it; a parent already
        // gone is seen through the new parent id.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) fail();
        if (::getppid() != plan.parent) ::_exit(127);
    }

    closeInheritedDescriptors(errorPipe, plan.inputFd);
    if (plan.inputFd >= 0) {
        // dup2 onto itself would keep the close-on-exec mark.
        if (plan.inputFd == kInputFd) {
            if (::fcntl(kInputFd, F_SETFD, 0) != 0) fail();
        } else if (::dup2(plan.inputFd, kInputFd) < 0) {
            fail();
        }
    }
    ::execve(program, argv, plan.envp);
    fail();
    ::_exit(127);
}

// A descriptor moved above the three standard streams and the input's
// place, so that setting those up cannot overwrite it.
int moveHigh(int fd) {
    if (fd < 0) return fd;
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

// The input file for the child: the file itself, or for a confined child
// that could not open it, a nameless copy beside the child's own folder
// that everyone may read.
uint32_t openInput(const SpawnOptions& options, bool otherUser, int& out) {
    out = -1;
    int fd = ::open(options.inputFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errorFromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kErrorAccessDenied;
    }
    if (!otherUser || (st.st_mode & S_IROTH) != 0) {
        out = fd;
        return kErrorSuccess;
    }
    if (options.maxInputCopyBytes != 0 &&
        static_cast<uint64_t>(st.st_size) > options.maxInputCopyBytes) {
        ::close(fd);
        return kErrorDiskFull;
    }
    std::string folder = options.ownFolder;
    size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos || slash == 0 ? std::string("/") : folder.substr(0, slash);
    int copy = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (copy < 0) {
        int err = errno;
        ::close(fd);
        return errorFromErrno(err);
    }
    ::fchmod(copy, 0644);
    off_t offset = 0;
    while (offset < st.st_size) {
        ssize_t sent = ::sendfile(copy, fd, &offset, static_cast<size_t>(st.st_size - offset));
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) {
            int err = sent < 0 ? errno : EIO;
            ::close(fd);
            ::close(copy);
            return errorFromErrno(err);
        }
    }
    ::close(fd);
    out = copy;
    return kErrorSuccess;
}

uint32_t exitCodeFromStatus(int status) {
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return kErrorStillActive;
}

// A small RAII holder for the descriptors the spawn opens.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

uint32_t spawnChild(const std::vector<std::string>& argv, const SpawnOptions& options, int outputFd,
                    int& pidOut, int64_t& confinedUserOut) {
    pidOut = -1;
    confinedUserOut = -1;
    if (argv.empty() || argv[0].empty()) return kErrorInvalidParameter;
    const std::string program = resolveProgram(argv[0]);
    if (program.empty()) return kErrorFileNotFound;

    ChildPlan plan;
    plan.parent = ::getpid();
    plan.outputFd = outputFd;
    if (options.confine && ::geteuid() == 0) {
        plan.confinedUser = freshConfinedId();
        if (plan.confinedUser < 0) return kErrorAccessDenied;
    }
    Fd ownFolder;
    if (!options.ownFolder.empty()) {
        ownFolder.fd = moveHigh(
            ::open(options.ownFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (ownFolder.fd < 0) return errorFromErrno(errno);
        plan.ownFolderFd = ownFolder.fd;
    }
    Fd input;
    if (!options.inputFile.empty()) {
        int fd = -1;
        uint32_t rc = openInput(options, plan.confinedUser >= 0, fd);
        if (rc != kErrorSuccess) return rc;
        input.fd = moveHigh(fd);
        if (input.fd < 0) return errorFromErrno(errno);
        plan.inputFd = input.fd;
    }

    // Everything the child touches is built before the fork.
    std::vector<std::string> args = argv;
    args[0] = program;
    for (auto& arg : args)
        if (!options.inputFile.empty() && arg == kInputFileArgument) arg = kInputFdPath;
    std::vector<char*> argPointers;
    argPointers.reserve(args.size() + 1);
    for (auto& arg : args) argPointers.push_back(arg.data());
    argPointers.push_back(nullptr);
    plan.workingDirectory =
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
    // The caller's environment with the options' entries put over it.
    std::vector<std::string> environment;
    std::vector<char*> envPointers;
    if (options.confine) {
        plan.envp = const_cast<char* const*>(kConfinedEnvironment);
    } else if (options.environment.empty()) {
        plan.envp = environ;
    } else {
        const auto nameOf = [](const std::string& entry) {
            return std::string_view(entry).substr(0, entry.find('='));
        };
        for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
            std::string inherited = *entry;
            const bool replaced = std::any_of(
                options.environment.begin(), options.environment.end(),
                [&](const std::string& own) { return nameOf(own) == nameOf(inherited); });
            if (!replaced) environment.push_back(std::move(inherited));
        }
        environment.insert(environment.end(), options.environment.begin(),
                           options.environment.end());
        envPointers.reserve(environment.size() + 1);
        for (auto& entry : environment) envPointers.push_back(entry.data());
        envPointers.push_back(nullptr);
        plan.envp = envPointers.data();
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return errorFromErrno(errno);
    Fd readEnd(moveHigh(pipeFds[0]));
    Fd writeEnd(moveHigh(pipeFds[1]));
    if (readEnd.fd < 0 || writeEnd.fd < 0) return errorFromErrno(errno);

    pid_t pid = ::fork();
    if (pid < 0) return errorFromErrno(errno);
    if (pid == 0) {
        ::close(readEnd.fd);
        execChild(program.c_str(), argPointers.data(), plan, options, writeEnd.fd);
    }

    ::close(writeEnd.fd);
    writeEnd.fd = -1;
    // The child sets its own group too; doing it here as well closes the
    // window in which a kill of the group would miss it. It fails harmlessly
    // once the child has exec'd.
    if (options.newProcessGroup) ::setpgid(pid, pid);

    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(readEnd.fd, &childErrno, sizeof(childErrno));
    } while (got < 0 && errno == EINTR);

    if (got == static_cast<ssize_t>(sizeof(childErrno))) {
        // The exec failed: the child has exited; reap it.
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return errorFromErrno(childErrno);
    }
    if (got != 0) {
        // The child ended before it could exec (a parent gone, a failed
        // step that could not report itself).
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return kErrorAccessDenied;
    }
    pidOut = pid;
    confinedUserOut = plan.confinedUser;
    return kErrorSuccess;
}

}  // namespace

ChildProcess::~ChildProcess() { kill(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(other.m_pid), m_exitCode(other.m_exitCode), m_confinedUser(other.m_confinedUser) {
    other.m_pid = -1;
    other.m_exitCode = kErrorStillActive;
    other.m_confinedUser = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        m_pid = other.m_pid;
        m_exitCode = other.m_exitCode;
        m_confinedUser = other.m_confinedUser;
        other.m_pid = -1;
        other.m_exitCode = kErrorStillActive;
        other.m_confinedUser = -1;
    }
    return *this;
}

uint32_t ChildProcess::spawn(const std::vector<std::string>& argv, const SpawnOptions& options,
                             ChildProcess& out) {
    out.kill();
    out.m_exitCode = kErrorStillActive;
    int pid = -1;
    int64_t confinedUser = -1;
    const uint32_t rc = spawnChild(argv, options, -1, pid, confinedUser);
    if (rc != kErrorSuccess) {
        setLastError(rc);
        return rc;
    }
    out.m_pid = pid;
    out.m_confinedUser = confinedUser;
    out.m_exitCode = kErrorStillActive;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t runForOutput(const std::vector<std::string>& argv, const SpawnOptions& options,
                      std::chrono::milliseconds timeout, std::string& output, uint32_t& exitCode) {
    constexpr size_t kMaxOutput = 64 * 1024;
    output.clear();
    exitCode = kErrorStillActive;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return setLastErrorFromErrno(errno);
    Fd readEnd(pipeFds[0]);
    Fd writeEnd(moveHigh(pipeFds[1]));
    ChildProcess child;
    int pid = -1;
    int64_t confinedUser = -1;
    uint32_t rc = spawnChild(argv, options, writeEnd.fd, pid, confinedUser);
    if (rc != kErrorSuccess) {
        setLastError(rc);
        return rc;
    }
    child.m_pid = pid;
    child.m_confinedUser = confinedUser;
    ::close(writeEnd.fd);
    writeEnd.fd = -1;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        struct pollfd poller {
            readEnd.fd, POLLIN, 0
        };
        int ready = ::poll(&poller, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        ssize_t got = ::read(readEnd.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // end of output: the child is ending
        if (output.size() < kMaxOutput)
            output.append(buffer, std::min(static_cast<size_t>(got), kMaxOutput - output.size()));
    }
    const auto now = std::chrono::steady_clock::now();
    rc = child.wait(deadline > now
                        ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)
                        : std::chrono::milliseconds(0));
    exitCode = child.exitCode();
    return rc;
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
    sweepConfinedUser();
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
    sweepConfinedUser();
}

void ChildProcess::sweepConfinedUser() {
    if (m_confinedUser < 0) return;
    const int64_t id = m_confinedUser;
    m_confinedUser = -1;
    // A process the child left behind (one that left its group) still has
    // the child's user id, which nothing else has: a helper with that id
    // kills every process it may signal, which are exactly those.
    pid_t helper = ::fork();
    if (helper == 0) {
        if (::syscall(SYS_setresgid, id, id, id) != 0 || ::syscall(SYS_setresuid, id, id, id) != 0)
            ::_exit(1);
        ::kill(-1, SIGKILL);
        ::_exit(0);
    }
    if (helper < 0) return;
    int status = 0;
    while (::waitpid(helper, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace platform
