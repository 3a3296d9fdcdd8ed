// Network and memory figures of the live system panel, as GetTcpStatisticsEx,
// GetUdpStatisticsEx and GlobalMemoryStatusEx give them, read from the
// kernel's files below a root folder ("/" on a live system; a test lays out
// fixture files under a folder of its own).
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The TCP counters since system start (/proc/net/snmp, "Tcp:" lines).
struct TcpStatistics {
    uint32_t activeOpens = 0;
    uint32_t passiveOpens = 0;
    uint32_t currentEstablished = 0;
};

// IPv4 (ipv6 false): 0 and the counters; 2 when the file cannot be read, 13
// when it has no Tcp counters. The kernel keeps one set of TCP counters for
// both address families, so the IPv6 query gives 50 (not supported) and a
// caller shows the IPv4 figure.
[[nodiscard]] uint32_t tcpStatistics(bool ipv6, TcpStatistics& out, const std::string& root = "/");

// The number of entries in the UDP listener table (/proc/net/udp, or
// /proc/net/udp6 for IPv6). 2 when the table cannot be read (no IPv6 on
// this machine, for instance).
[[nodiscard]] uint32_t udpListenerCount(bool ipv6, uint32_t& out, const std::string& root = "/");

// Physical memory from /proc/meminfo: the load in percent is the share of
// MemTotal that MemAvailable (MemFree on kernels without it) does not
// cover, rounded down as Windows reports it.
struct PhysicalMemory {
    uint32_t memoryLoad = 0;
    uint64_t totalBytes = 0;
    uint64_t availableBytes = 0;
};

// 0 and the figures; 2 when the file cannot be read, 13 without MemTotal.
[[nodiscard]] uint32_t physicalMemory(PhysicalMemory& out, const std::string& root = "/");

}  // namespace platform
