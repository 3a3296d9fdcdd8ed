// Facts about this machine and the running account.
//
// The figures that Linux keeps in /proc and /sys are read below a root
// folder, "/" unless setSystemRoot was given another one, so that a test can
// lay out fixture files and read them as the machine's own.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The login name of the effective user, as GetUserName gives it. 0 and the
// name; 1332 when the account has no name (no passwd entry).
[[nodiscard]] uint32_t userName(std::u16string& out);

// The machine's host name, as GetComputerName gives it. 0 and the name.
[[nodiscard]] uint32_t computerName(std::u16string& out);

// The folder below which /proc and /sys are read; empty goes back to "/".
void setSystemRoot(std::string root);
std::string systemRoot();

// Processor architecture codes as GetSystemInfo reports them.
inline constexpr uint16_t kArchitectureIntel = 0;
inline constexpr uint16_t kArchitectureIa64 = 6;
inline constexpr uint16_t kArchitectureAmd64 = 9;
inline constexpr uint16_t kArchitectureArm64 = 12;
inline constexpr uint16_t kArchitectureUnknown = 0xffff;

struct SystemFacts {
    uint16_t architecture = kArchitectureUnknown;
    uint32_t pageSize = 0;
    uint64_t minimumApplicationAddress = 0;
    uint64_t maximumApplicationAddress = 0;
    uint64_t activeProcessorMask = 0;  // bit n: processor n is online (n < 64)
    uint32_t numberOfProcessors = 0;   // processors online
    uint32_t processorType = 0;        // 586, 8664, ... as Windows numbers them
};

// What GetSystemInfo gives a native program on this machine: the
// architecture of the running kernel (uname), the online processors
// (/sys/devices/system/cpu/online, else every configured one), the lowest
// address a program may map (/proc/sys/vm/mmap_min_addr) and the top of the
// user address space of the architecture. Never fails.
SystemFacts systemFacts();

// The architecture code for a uname machine name ("x86_64" -> 9).
uint16_t architectureOfMachine(std::string_view machine);

// GlobalMemoryStatusEx: sizes in bytes.
struct MemoryStatus {
    uint32_t memoryLoad = 0;  // percent of physical memory in use
    uint64_t totalPhysical = 0;
    uint64_t availablePhysical = 0;
    uint64_t totalPageFile = 0;  // swap
    uint64_t availablePageFile = 0;
    uint64_t totalVirtual = 0;  // the user address space
    uint64_t availableVirtual = 0;
    uint64_t availableExtendedVirtual = 0;  // always 0
};

// From /proc/meminfo (MemTotal, MemAvailable or MemFree, SwapTotal,
// SwapFree) and /proc/self/status (VmSize). 0 on success; 2 when
// /proc/meminfo cannot be read, 13 when it lacks MemTotal.
[[nodiscard]] uint32_t memoryStatus(MemoryStatus& out);

// The kernel's release (/proc/sys/kernel/osrelease, else uname) as a
// Windows version: "6.1.0-18-amd64" is 6, 1, build 0. No service pack.
struct OsVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    std::u16string servicePack;
};
[[nodiscard]] uint32_t osVersion(OsVersion& out);
// The numbers of a release text; false when it does not start with a digit.
bool parseKernelRelease(std::string_view release, OsVersion& out);

// The first processor's clock from cpufreq, in MHz
// (/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq and
// scaling_cur_freq, in kHz). 0 on success; 2 when the machine gives no
// figures (no cpufreq driver, as in many virtual machines).
struct ProcessorSpeed {
    uint32_t maxMhz = 0;
    uint32_t currentMhz = 0;
};
[[nodiscard]] uint32_t firstProcessorSpeed(ProcessorSpeed& out);

}  // namespace platform
