// The network and memory figures of netstat.h from /proc.
#include "platform/netstat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace platform {

namespace {

// The files read here are small; anything past this is not a kernel file.
constexpr size_t kMaxFileBytes = 16u << 20;

bool readFile(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setLastErrorFromErrno(errno);
        return false;
    }
    out.clear();
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            setLastErrorFromErrno(errno);
            ::close(fd);
            return false;
        }
        if (n == 0 || out.size() > kMaxFileBytes) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

std::string below(const std::string& root, const char* path) {
    std::string full = root;
    while (!full.empty() && full.back() == '/') full.pop_back();
    return full + path;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        if (end > at) out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// A counter as Windows keeps it: 32 bits, wrapping; a negative figure
// (the kernel prints CurrEstab and MaxConn signed) reads as 0.
uint32_t counter(std::string_view text) {
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return 0;
    return static_cast<uint32_t>(value);
}

uint32_t fail(uint32_t code) {
    setLastError(code);
    return code;
}

}  // namespace

uint32_t tcpStatistics(bool ipv6, TcpStatistics& out, const std::string& root) {
    out = TcpStatistics{};
    if (ipv6) return fail(kErrorNotSupported);
    std::string text;
    if (!readFile(below(root, "/proc/net/snmp"), text)) return fail(kErrorFileNotFound);
    // Two "Tcp:" lines: the names, then the values in the same order.
    std::vector<std::string_view> names;
    for (std::string_view line : lines(text)) {
        if (line.substr(0, 4) != "Tcp:") continue;
        std::vector<std::string_view> fields = words(line.substr(4));
        if (names.empty()) {
            names = std::move(fields);
            continue;
        }
        bool found = false;
        for (size_t i = 0; i < names.size() && i < fields.size(); ++i) {
            if (names[i] == "ActiveOpens") {
                out.activeOpens = counter(fields[i]);
                found = true;
            } else if (names[i] == "PassiveOpens") {
                out.passiveOpens = counter(fields[i]);
            } else if (names[i] == "CurrEstab") {
                out.currentEstablished = counter(fields[i]);
            }
        }
        if (!found) break;
        setLastError(kErrorSuccess);
        return kErrorSuccess;
    }
    return fail(kErrorInvalidData);
}

uint32_t udpListenerCount(bool ipv6, uint32_t& out, const std::string& root) {
    out = 0;
    std::string text;
    if (!readFile(below(root, ipv6 ? "/proc/net/udp6" : "/proc/net/udp"), text)) {
        return fail(kErrorFileNotFound);
    }
    // A heading line, then one line per socket ("  sl: local_address ...").
    bool heading = true;
    uint32_t count = 0;
    for (std::string_view line : lines(text)) {
        if (heading) {
            heading = false;
            continue;
        }
        std::vector<std::string_view> fields = words(line);
        if (fields.size() >= 2 && fields[0].size() > 1 && fields[0].back() == ':') ++count;
    }
    out = count;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t physicalMemory(PhysicalMemory& out, const std::string& root) {
    out = PhysicalMemory{};
    std::string text;
    if (!readFile(below(root, "/proc/meminfo"), text)) return fail(kErrorFileNotFound);
    uint64_t totalKib = 0, availableKib = 0, freeKib = 0;
    bool haveTotal = false, haveAvailable = false;
    for (std::string_view line : lines(text)) {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::vector<std::string_view> fields = words(line.substr(colon + 1));
        if (fields.empty()) continue;
        uint64_t kib = 0;
        auto [end, ec] =
            std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), kib);
        if (ec != std::errc() || end != fields[0].data() + fields[0].size()) continue;
        if (kib > (UINT64_MAX >> 10)) continue;
        std::string_view key = line.substr(0, colon);
        if (key == "MemTotal") {
            totalKib = kib;
            haveTotal = true;
        } else if (key == "MemAvailable") {
            availableKib = kib;
            haveAvailable = true;
        } else if (key == "MemFree") {
            freeKib = kib;
        }
    }
    if (!haveTotal || totalKib == 0) return fail(kErrorInvalidData);
    if (!haveAvailable) availableKib = freeKib;
    if (availableKib > totalKib) availableKib = totalKib;
    out.totalBytes = totalKib << 10;
    out.availableBytes = availableKib << 10;
    out.memoryLoad = static_cast<uint32_t>(static_cast<unsigned __int128>(totalKib - availableKib) *
                                           100 / totalKib);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
