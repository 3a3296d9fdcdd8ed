// Processes: spawning children (an argument vector, never a shell), waiting
// with limits, and the process list with each process's modules from /proc.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct SpawnOptions {
    std::string workingDirectory;         // host path; empty = inherit
    uint64_t maxFileSizeBytes = 0;        // RLIMIT_FSIZE for the child; 0 = none. A write
                                          // past it fails (EFBIG; SIGXFSZ is ignored)
    bool discardOutput = true;            // stdout and stderr to /dev/null
    bool newProcessGroup = true;          // so a kill reaches the child's children
};

// A started child process. Killed (SIGKILL to its group) and reaped on
// destruction if still running. Move-only.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program (an absolute host path, or a name looked up in PATH).
    [[nodiscard]] static uint32_t spawn(const std::vector<std::string>& argv,
                                        const SpawnOptions& options, ChildProcess& out);

    int pid() const { return m_pid; }
    bool isRunning();

    // Waits until the child ends, the timeout passes (258) or shouldStop
    // returns true (1223, polled every few milliseconds); on timeout or stop
    // the child's process group is killed and reaped. 0 when it ended.
    [[nodiscard]] uint32_t wait(std::chrono::milliseconds timeout,
                                const std::function<bool()>& shouldStop = {});
    // Exit code once ended (259 while running; 128+signal when killed).
    uint32_t exitCode() const { return m_exitCode; }
    void kill();

private:
    int m_pid = -1;
    uint32_t m_exitCode = 259;
};

// Starts a program that outlives the caller and is not waited for: its own
// session, standard streams on /dev/null, the caller's environment and
// current directory. argv[0] is an absolute host path or a name looked up in
// PATH. pid (may be null) gets the program's process id.
[[nodiscard]] uint32_t spawnDetached(const std::vector<std::string>& argv, uint32_t* pid = nullptr);

// Finds a program in PATH; empty when absent.
std::string findProgramInPath(const std::string& name);

// ---- Process list (filled by the threat-scan work) ----

struct ProcessEntry {
    uint32_t pid = 0;
    uint32_t parentPid = 0;
    std::u16string exeName;    // base name, e.g. "bash"
    std::u16string imagePath;  // Windows form of /proc/<pid>/exe; empty if unreadable
};

// Every process (thread-group leaders only) in /proc.
std::vector<ProcessEntry> listProcesses();

// The files mapped into a process (/proc/<pid>/maps), Windows form, each once,
// executable image first. Empty when the process cannot be read.
std::vector<std::u16string> listModules(uint32_t pid);

// What the live system panel counts: the processes in the process list and,
// for each, the distinct files it maps (its modules; a process whose maps
// cannot be read, a kernel thread for one, adds none).
struct ProcessModuleCount {
    uint32_t processes = 0;
    uint64_t modules = 0;
};

// Counts below procRoot ("/proc" on a live system; a test gives a folder of
// its own holding "<pid>/maps" files). False, with the last error, when the
// folder cannot be read or lists no process. No path is converted, so one
// pass stays cheap with thousands of processes.
bool countProcessesAndModules(ProcessModuleCount& out, const std::string& procRoot = "/proc");

// The Windows-form path of a process's executable (/proc/<pid>/exe); empty
// when it cannot be read (a kernel thread, or no right to look).
std::u16string processImagePath(uint32_t pid);

// Opens a process by identifier, as OpenProcess would: true when pid names a
// live process (its own thread-group leader). A thread id is not a process.
// Cheap for identifiers that name nothing (one system call), so a caller may
// try every identifier up to maxProcessId(). Last error 87 when false.
bool probeProcess(uint32_t pid);

// Highest possible process identifier: one below /proc/sys/kernel/pid_max.
uint32_t maxProcessId();

uint32_t currentProcessId();

// Ends a process (SIGKILL; the exit code cannot be passed on). 87 when pid
// names no process.
[[nodiscard]] uint32_t terminateProcess(uint32_t pid, uint32_t exitCode);

}  // namespace platform
