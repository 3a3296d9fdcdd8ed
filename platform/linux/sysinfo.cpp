// User and computer name, processors, memory, kernel version and clock.
#include "platform/sysinfo.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {

namespace {
constexpr uint32_t kErrorNoneMapped = 1332;
}

uint32_t userName(std::u16string& out) {
    out.clear();
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 4096);
    for (;;) {
        passwd entry{};
        passwd* result = nullptr;
        int rc = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0) return setLastErrorFromErrno(rc);
        if (result == nullptr || result->pw_name == nullptr || result->pw_name[0] == '\0') {
            setLastError(kErrorNoneMapped);
            return kErrorNoneMapped;
        }
        out = toUtf16(result->pw_name);
        setLastError(kErrorSuccess);
        return kErrorSuccess;
    }
}

uint32_t computerName(std::u16string& out) {
    out.clear();
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return setLastErrorFromErrno(errno);
    out = toUtf16(host);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

namespace {

std::mutex gRootLock;
std::string gRoot;  // empty means "/"

std::string underRoot(const char* path) {
    std::lock_guard<std::mutex> guard(gRootLock);
    if (gRoot.empty()) return path;
    return gRoot + path;
}

// The whole of a small /proc or /sys file; false when it cannot be read.
bool readSmallFile(const char* path, std::string& out) {
    std::ifstream in(underRoot(path), std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return !in.bad();
}

bool parseNumber(std::string_view text, uint64_t& value) {
    size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end != first;
}

bool readNumberFile(const char* path, uint64_t& value) {
    std::string text;
    return readSmallFile(path, text) && parseNumber(text, value);
}

// A kernel cpu list such as "0-3,6,8-9": the count and the mask of the
// first 64. False when the text is not such a list.
bool parseCpuList(std::string_view text, uint32_t& count, uint64_t& mask) {
    count = 0;
    mask = 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    if (text.empty()) return false;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        std::string_view range = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        uint64_t low = 0, high = 0;
        const size_t dash = range.find('-');
        if (!parseNumber(range.substr(0, dash), low)) return false;
        high = low;
        if (dash != std::string_view::npos && !parseNumber(range.substr(dash + 1), high)) {
            return false;
        }
        if (high < low || high - low > 65535) return false;
        for (uint64_t cpu = low; cpu <= high; ++cpu) {
            ++count;
            if (cpu < 64) mask |= uint64_t(1) << cpu;
        }
    }
    return count > 0;
}

std::string machineName() {
    utsname names{};
    if (::uname(&names) != 0) return {};
    return names.machine;
}

// The top of the user address space below the guard page, by architecture.
uint64_t topOfUserSpace(uint16_t architecture, uint64_t pageSize) {
    switch (architecture) {
        case kArchitectureAmd64:
            return (uint64_t(1) << 47) - pageSize - 1;
        case kArchitectureArm64:
            return (uint64_t(1) << 48) - pageSize - 1;
        case kArchitectureIntel:
            return 0xBFFFFFFFull - pageSize;
        default:
            return uint64_t(~uintptr_t(0)) - pageSize;
    }
}

}  // namespace

void setSystemRoot(std::string root) {
    while (!root.empty() && root.back() == '/') root.pop_back();
    std::lock_guard<std::mutex> guard(gRootLock);
    gRoot = std::move(root);
}

std::string systemRoot() {
    std::lock_guard<std::mutex> guard(gRootLock);
    return gRoot.empty() ? std::string("/") : gRoot;
}

uint16_t architectureOfMachine(std::string_view machine) {
    if (machine == "x86_64" || machine == "amd64") return kArchitectureAmd64;
    if (machine == "aarch64" || machine == "arm64") return kArchitectureArm64;
    if (machine == "ia64") return kArchitectureIa64;
    if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686") {
        return kArchitectureIntel;
    }
    return kArchitectureUnknown;
}

SystemFacts systemFacts() {
    SystemFacts facts;
    facts.architecture = architectureOfMachine(machineName());
    const long page = ::sysconf(_SC_PAGESIZE);
    facts.pageSize = page > 0 ? static_cast<uint32_t>(page) : 4096;
    switch (facts.architecture) {
        case kArchitectureAmd64:
            facts.processorType = 8664;  // PROCESSOR_AMD_X8664
            break;
        case kArchitectureIntel:
            facts.processorType = 586;  // PROCESSOR_INTEL_PENTIUM
            break;
        case kArchitectureIa64:
            facts.processorType = 2200;  // PROCESSOR_INTEL_IA64
            break;
        default:
            facts.processorType = 0;
            break;
    }
    std::string online;
    if (!readSmallFile("/sys/devices/system/cpu/online", online) ||
        !parseCpuList(online, facts.numberOfProcessors, facts.activeProcessorMask)) {
        const long configured = ::sysconf(_SC_NPROCESSORS_CONF);
        facts.numberOfProcessors = configured > 0 ? static_cast<uint32_t>(configured) : 1;
        facts.activeProcessorMask = facts.numberOfProcessors >= 64
                                        ? ~uint64_t(0)
                                        : (uint64_t(1) << facts.numberOfProcessors) - 1;
    }
    uint64_t minimum = 0;
    if (!readNumberFile("/proc/sys/vm/mmap_min_addr", minimum) || minimum == 0) {
        minimum = facts.pageSize;
    }
    facts.minimumApplicationAddress = minimum;
    facts.maximumApplicationAddress = topOfUserSpace(facts.architecture, facts.pageSize);
    return facts;
}

uint32_t memoryStatus(MemoryStatus& out) {
    out = MemoryStatus{};
    std::string text;
    if (!readSmallFile("/proc/meminfo", text)) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    uint64_t total = 0, available = 0, free = 0, swapTotal = 0, swapFree = 0;
    bool haveTotal = false, haveAvailable = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string_view key(line.data(), colon);
        uint64_t kib = 0;
        if (!parseNumber(std::string_view(line).substr(colon + 1), kib)) continue;
        if (kib > (UINT64_MAX >> 10)) continue;
        const uint64_t bytes = kib << 10;
        if (key == "MemTotal") {
            total = bytes;
            haveTotal = true;
        } else if (key == "MemAvailable") {
            available = bytes;
            haveAvailable = true;
        } else if (key == "MemFree") {
            free = bytes;
        } else if (key == "SwapTotal") {
            swapTotal = bytes;
        } else if (key == "SwapFree") {
            swapFree = bytes;
        }
    }
    if (!haveTotal || total == 0) {
        setLastError(kErrorInvalidData);
        return kErrorInvalidData;
    }
    if (!haveAvailable) available = free;
    if (available > total) available = total;
    out.totalPhysical = total;
    out.availablePhysical = available;
    out.memoryLoad = static_cast<uint32_t>(((total - available) * 100 + total / 2) / total);
    out.totalPageFile = swapTotal;
    out.availablePageFile = swapFree > swapTotal ? swapTotal : swapFree;

    const SystemFacts facts = systemFacts();
    out.totalVirtual = facts.maximumApplicationAddress + 1 - facts.minimumApplicationAddress;
    out.availableVirtual = out.totalVirtual;
    std::string status;
    if (readSmallFile("/proc/self/status", status)) {
        const size_t at = status.find("\nVmSize:");
        uint64_t kib = 0;
        if (at != std::string::npos && parseNumber(std::string_view(status).substr(at + 8), kib) &&
            kib <= (out.totalVirtual >> 10)) {
            out.availableVirtual = out.totalVirtual - (kib << 10);
        }
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

bool parseKernelRelease(std::string_view release, OsVersion& out) {
    out = OsVersion{};
    uint32_t* parts[] = {&out.major, &out.minor, &out.build};
    size_t at = 0;
    for (size_t i = 0; i < 3; ++i) {
        const char* first = release.data() + at;
        const char* last = release.data() + release.size();
        uint32_t value = 0;
        auto [end, ec] = std::from_chars(first, last, value);
        if (ec != std::errc() || end == first) return i > 0;
        *parts[i] = value;
        at = static_cast<size_t>(end - release.data());
        if (at >= release.size() || release[at] != '.') return true;
        ++at;
    }
    return true;
}

uint32_t osVersion(OsVersion& out) {
    std::string release;
    if (!readSmallFile("/proc/sys/kernel/osrelease", release)) {
        utsname names{};
        if (::uname(&names) != 0) return setLastErrorFromErrno(errno);
        release = names.release;
    }
    if (!parseKernelRelease(release, out)) {
        setLastError(kErrorInvalidData);
        return kErrorInvalidData;
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t firstProcessorSpeed(ProcessorSpeed& out) {
    out = ProcessorSpeed{};
    uint64_t maxKhz = 0, currentKhz = 0;
    if (!readNumberFile("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", maxKhz) ||
        !readNumberFile("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", currentKhz) ||
        maxKhz == 0 || maxKhz / 1000 > UINT32_MAX || currentKhz / 1000 > UINT32_MAX) {
        setLastError(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    out.maxMhz = static_cast<uint32_t>(maxKhz / 1000);
    out.currentMhz = static_cast<uint32_t>(currentKhz / 1000);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
