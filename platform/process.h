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
    std::string workingDirectory;   // host path; empty = inherit
    uint64_t maxFileSizeBytes = 0;  // RLIMIT_FSIZE for the child; 0 = none. A write
                                    // past it fails (EFBIG; SIGXFSZ is ignored)
    bool discardOutput = true;      // stdout and stderr to /dev/null
    bool newProcessGroup = true;    // so a kill reaches the child's children

    // Confinement, for a program that parses hostile input. The child runs
    // with no capabilities (bounding set dropped too) and no_new_privs, with
    // PATH and LC_ALL as its whole environment, and gets SIGKILL when the
    // thread that started it ends. Started by root, it runs as a user and
    // group id of its own that no account and no other process has; every
    // process left with that id is killed when the child is reaped.
    bool confine = false;
    // A folder (host path, made by the caller) handed to the child: its user
    // owns it and it is the child's working folder (workingDirectory is then
    // not used). Empty = none.
    std::string ownFolder;
    // A regular file (host path) opened here without following a link and
    // handed to the child: every argument equal to kInputFileArgument names
    // it. A confined child of root that could not read the file itself gets
    // a nameless copy of it, of at most maxInputCopyBytes (112 when larger).
    std::string inputFile;
    uint64_t maxInputCopyBytes = 0;  // 0 = no limit
    // NAME=value entries the child gets on top of the caller's environment
    // (one replaces the caller's entry of the same name). Not used for a
    // confined child, whose environment is fixed.
    std::vector<std::string> environment;
};

// The argument that stands for SpawnOptions::inputFile in argv.
inline constexpr char kInputFileArgument[] = "<input-file>";

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
    void sweepConfinedUser();

    int m_pid = -1;
    uint32_t m_exitCode = 259;
    int64_t m_confinedUser = -1;  // the user id of a confined child of root

    friend uint32_t runForOutput(const std::vector<std::string>&, const SpawnOptions&,
                                 std::chrono::milliseconds, std::string&, uint32_t&);
};

// Runs a program to its end, at most timeout (258 and killed after it), and
// keeps the first 64 KiB of its standard output. 0 when it ran and ended,
// with its exit code.
[[nodiscard]] uint32_t runForOutput(const std::vector<std::string>& argv,
                                    const SpawnOptions& options, std::chrono::milliseconds timeout,
                                    std::string& output, uint32_t& exitCode);

// Whether a program file may be run by root: 0 when it (after its links)
// and every folder above it belong to root and no one else may write to
// them; 2 when it does not exist, 5 when it is refused.
[[nodiscard]] uint32_t checkTrustedProgram(const std::string& hostPath);
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

// When a process started, in clock ticks since boot. With the identifier it
// names one process for good: an identifier is reused only by a process
// started later. 0 when pid names no live process (gone, or ended and only
// waiting for its parent to collect its exit code).
uint64_t processStartTime(uint32_t pid);

// The caller's environment as NAME=value entries, in its order.
std::vector<std::string> currentEnvironment();

// Ends a process (SIGKILL; the exit code cannot be passed on). 87 when pid
// names no process.
[[nodiscard]] uint32_t terminateProcess(uint32_t pid, uint32_t exitCode);

// Asks a process to end (SIGTERM), so that it may save its state first. 87
// when pid names no process.
[[nodiscard]] uint32_t requestProcessExit(uint32_t pid);

// True when pid names no running process any more: gone, or ended and only
// waiting for its parent to collect its exit code.
bool processHasEnded(uint32_t pid);

}  // namespace platform
