// Where the online services go: the values under
// HKEY_LOCAL_MACHINE\SOFTWARE\Orvane\Wardline\Online.
//   Host      REG_SZ host[:port] of the e-mail notice, feedback and update files
//   NewsHost  REG_SZ host[:port] of the news line; empty means Host
//   CaFile    REG_SZ optional PEM file of the authorities to trust instead
//             of the system's (a Windows or a host path)
//   <id>      REG_SZ the web page of a command or control id, e.g. "32772"
// Without Host nothing is sent anywhere.
#pragma once
#include <cstdint>
#include <string>

inline constexpr char16_t kOnlineKey[] = u"SOFTWARE\\Orvane\\Wardline\\Online";
inline constexpr char16_t kOnlineHost[] = u"Host";
inline constexpr char16_t kOnlineNewsHost[] = u"NewsHost";
inline constexpr char16_t kOnlineCaFile[] = u"CaFile";

struct OnlineConfig {
    std::string host;      // host[:port], checked
    std::string newsHost;  // NewsHost, else host
    std::string caFile;    // host path; empty = the system's authorities
};

// Reads the configuration. 1 when a usable Host is set; 0 otherwise, after
// logging why under the operation's name ("not configured", or a Host that
// is not a host[:port]).
int32_t LoadOnlineConfig(const char16_t* operation, OnlineConfig& out);

// Whether a text is a host name or address with an optional port, with
// nothing that could change the URL it is put into.
bool IsHostAndPort(const std::string& host);

// The address configured for a web page id (or for the id its page is
// shared with); empty when none.
std::u16string WebPageAddress(int32_t id);
