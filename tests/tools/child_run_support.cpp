#include "tools/child_run_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace tooltest {

namespace {

// One end of a pipe, closed when it goes out of scope.
class Fd {
public:
    Fd() = default;
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int* out() { return &m_fd; }
    void reset() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    *readEnd.out() = fds[0];
    *writeEnd.out() = fds[1];
    return true;
}

std::string programPath(const std::string& program) {
    return program.empty() || program[0] == '/' ? program : std::string(OV_BIN_DIR) + "/" + program;
}

}  // namespace

ChildResult runChild(const ChildCall& call) {
    ChildResult result;
    const std::string program = programPath(call.program);
    const std::string name = call.program.substr(call.program.rfind('/') + 1);
    // A child that stops reading its input must not end this process.
    static std::once_flag ignorePipeSignal;
    std::call_once(ignorePipeSignal, [] { ::signal(SIGPIPE, SIG_IGN); });

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : call.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    Fd inRead, inWrite, outRead, outWrite, errRead, errWrite;
    const auto deadline = std::chrono::steady_clock::now() + call.deadline;
    pid_t pid = -1;
    if (call.terminal) {
        // Raw: what the program writes arrives as written, no input is echoed.
        termios raw{};
        ::cfmakeraw(&raw);
        int master = -1;
        pid = ::forkpty(&master, nullptr, &raw, nullptr);
        if (pid == 0) {
            // A session, and so a group, of its own.
            ::signal(SIGPIPE, SIG_DFL);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        if (pid > 0) {
            ::fcntl(master, F_SETFD, FD_CLOEXEC);
            *outRead.out() = master;
            if (!call.input.empty()) *inWrite.out() = ::fcntl(master, F_DUPFD_CLOEXEC, 0);
        }
    } else {
        if (!makePipe(inRead, inWrite) || !makePipe(outRead, outWrite) ||
            !makePipe(errRead, errWrite)) {
            result.failure = "no pipes for " + name;
            ADD_FAILURE() << result.failure;
            return result;
        }
        pid = ::fork();
        if (pid == 0) {
            // A group of its own, so the kill at the deadline reaches its children.
            ::setpgid(0, 0);
            ::signal(SIGPIPE, SIG_DFL);
            ::dup2(inRead.get(), 0);
            ::dup2(outWrite.get(), 1);
            ::dup2(errWrite.get(), 2);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        if (pid > 0) ::setpgid(pid, pid);  // also here: the kill may come before the child ran
        inRead.reset();
        outWrite.reset();
        errWrite.reset();
        if (call.input.empty()) inWrite.reset();
    }
    if (pid < 0) {
        result.failure = "could not start " + name;
        ADD_FAILURE() << result.failure;
        return result;
    }
    if (inWrite.get() >= 0)
        ::fcntl(inWrite.get(), F_SETFL, ::fcntl(inWrite.get(), F_GETFL) | O_NONBLOCK);

    size_t written = 0;
    std::string* sinks[2] = {&result.out, &result.err};
    Fd* sources[2] = {&outRead, &errRead};
    while (outRead.get() >= 0 || errRead.get() >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.deadlinePassed = true;
            break;
        }
        pollfd fds[3] = {
            {outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}, {inWrite.get(), POLLOUT, 0}};
        const int ready = ::poll(fds, 3, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // End of file; on a terminal, EIO once the program has gone.
                sources[i]->reset();
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents) {
            const ssize_t n =
                ::write(inWrite.get(), call.input.data() + written, call.input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            // All of it written, or the child closed its end.
            if (written == call.input.size() || (n < 0 && errno != EAGAIN && errno != EINTR))
                inWrite.reset();
        }
    }
    inWrite.reset();

    int status = 0;
    if (!result.deadlinePassed) {
        // Both outputs ended: the child is ending, or has closed them and
        // goes on; it is still held to the same deadline.
        for (;;) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) break;
            if (done < 0 && errno != EINTR) {
                result.failure = "lost track of " + name;
                ADD_FAILURE() << result.failure;
                return result;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                result.deadlinePassed = true;
                break;
            }
            ::usleep(2000);
        }
    }
    if (result.deadlinePassed) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.failure = name + " was still running at its deadline of " +
                         std::to_string(call.deadline.count()) + " s and was killed";
        ADD_FAILURE() << result.failure << "\nits output so far:\n"
                      << result.out << "\nits errors so far:\n"
                      << result.err;
        return result;
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.failure = name + " ended by signal " + std::to_string(WTERMSIG(status));
    }
    return result;
}

}  // namespace tooltest
