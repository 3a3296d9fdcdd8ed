// Detached service programs: fork, setsid, fork again, exec. Everything the program
// needs is prepared before the first fork; between fork and exec only
// async-signal-safe calls are made.
#include "platform/linux/detached_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/process.h"

extern char** environ;

namespace platform::detail {

namespace {

constexpr int kFirstPassedDescriptor = 3;
constexpr int kScratchDescriptorBase = 64;

[[noreturn]] void runProgram(const char* program, char* const* argv, char* const* envp,
                             const char* workingDirectory, const int* passed, size_t passedCount,
                             int devNull, int goRead) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        ::signal(sig, SIG_DFL);
    }
    if (goRead >= 0) {
        char go = 0;
        ssize_t got;
        do {
            got = ::read(goRead, &go, 1);
        } while (got < 0 && errno == EINTR);
        if (got != 1) ::_exit(127);
    }
    // Move the descriptors out of the way first, so that placing them at 3,
    // 4, ... never overwrites one still to be placed.
    int scratch[16];
    for (size_t i = 0; i < passedCount; ++i) {
        scratch[i] = ::fcntl(passed[i], F_DUPFD, kScratchDescriptorBase);
        if (scratch[i] < 0) ::_exit(127);
    }
    int nullCopy = ::fcntl(devNull, F_DUPFD, kScratchDescriptorBase);
    if (nullCopy < 0) ::_exit(127);
    for (int fd = 0; fd <= 2; ++fd) {
        if (::dup2(nullCopy, fd) < 0) ::_exit(127);
    }
    for (size_t i = 0; i < passedCount; ++i) {
        if (::dup2(scratch[i], kFirstPassedDescriptor + static_cast<int>(i)) < 0) ::_exit(127);
    }
    const int firstFree = kFirstPassedDescriptor + static_cast<int>(passedCount);
    long maxFd = ::sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
    for (int fd = firstFree; fd < maxFd; ++fd) ::close(fd);
    if (::chdir(workingDirectory) != 0) ::_exit(127);
    ::execve(program, argv, envp);
    ::_exit(127);
}

}  // namespace

std::vector<std::string> cleanEnvironment() {
    std::vector<std::string> env = {
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"};
    static const char* const kPrefixes[] = {
        "ORVANE_", "ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS=", "LANG=", "LC_ALL=", "TZ="};
    for (char** entry = environ; entry && *entry; ++entry) {
        for (const char* prefix : kPrefixes) {
            if (std::strncmp(*entry, prefix, std::strlen(prefix)) == 0) {
                env.emplace_back(*entry);
                break;
            }
        }
    }
    return env;
}

uint32_t launchDetached(const DetachedLaunch& launch, uint32_t& pid, int& goFd) {
    pid = 0;
    goFd = -1;
    if (launch.program.empty() || launch.argv.empty() || launch.passDescriptors.size() > 16) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    if (::access(launch.program.c_str(), X_OK) != 0) return setLastErrorFromErrno(errno);

    std::vector<char*> argv;
    for (const std::string& arg : launch.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : launch.env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) return setLastErrorFromErrno(errno);
    int pidPipe[2];
    if (::pipe2(pidPipe, O_CLOEXEC) != 0) {
        uint32_t rc = setLastErrorFromErrno(errno);
        ::close(devNull);
        return rc;
    }
    int goPipe[2] = {-1, -1};
    if (launch.waitForGo && ::pipe2(goPipe, O_CLOEXEC) != 0) {
        uint32_t rc = setLastErrorFromErrno(errno);
        ::close(devNull);
        ::close(pidPipe[0]);
        ::close(pidPipe[1]);
        return rc;
    }

    pid_t middle = ::fork();
    if (middle < 0) {
        uint32_t rc = setLastErrorFromErrno(errno);
        for (int fd : {devNull, pidPipe[0], pidPipe[1], goPipe[0], goPipe[1]})
            if (fd >= 0) ::close(fd);
        return rc;
    }
    if (middle == 0) {
        ::setsid();
        pid_t program = ::fork();
        if (program == 0) {
            runProgram(launch.program.c_str(), argv.data(), envp.data(),
                       launch.workingDirectory.c_str(), launch.passDescriptors.data(),
                       launch.passDescriptors.size(), devNull, goPipe[0]);
        }
        int32_t value = program > 0 ? static_cast<int32_t>(program) : -1;
        ssize_t ignored = ::write(pidPipe[1], &value, sizeof value);
        (void)ignored;
        ::_exit(0);
    }
    ::close(pidPipe[1]);
    ::close(devNull);
    if (goPipe[0] >= 0) ::close(goPipe[0]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int32_t value = -1;
    ssize_t got;
    do {
        got = ::read(pidPipe[0], &value, sizeof value);
    } while (got < 0 && errno == EINTR);
    ::close(pidPipe[0]);
    if (got != static_cast<ssize_t>(sizeof value) || value <= 0) {
        if (goPipe[1] >= 0) ::close(goPipe[1]);
        setLastError(kErrorNotEnoughMemory);
        return kErrorNotEnoughMemory;
    }
    pid = static_cast<uint32_t>(value);
    goFd = goPipe[1];
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform::detail

namespace platform {

uint32_t spawnDetached(const std::vector<std::string>& argv, uint32_t* pid) {
    if (pid) *pid = 0;
    if (argv.empty() || argv[0].empty()) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    detail::DetachedLaunch launch;
    launch.program = argv[0].find('/') != std::string::npos ? argv[0] : findProgramInPath(argv[0]);
    if (launch.program.empty()) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    launch.argv = argv;
    for (char** entry = environ; entry && *entry; ++entry) launch.env.emplace_back(*entry);
    char* here = ::getcwd(nullptr, 0);
    if (here) {
        launch.workingDirectory = here;
        std::free(here);
    }
    uint32_t started = 0;
    int goFd = -1;
    uint32_t rc = detail::launchDetached(launch, started, goFd);
    if (rc == 0 && pid) *pid = started;
    return rc;
}

}  // namespace platform
