// Where the online services and the updater find their server: the values
// under HKEY_LOCAL_MACHINE\SOFTWARE\Orvane\Wardline\Online.
//   Host      REG_SZ host[:port] of the e-mail notice, feedback and update files
//   NewsHost  REG_SZ host[:port] of the news line; empty means Host
//   CaFile    REG_SZ optional PEM file of the authorities to trust instead
//             of the system's (a Windows or a host path)
//   <id>      REG_SZ the web page of a command or control id, e.g. "32772"
// Without Host nothing is sent anywhere.
#pragma once
#include <string_view>

namespace names {

inline constexpr char16_t kOnlineKey[] = u"SOFTWARE\\Orvane\\Wardline\\Online";
inline constexpr char16_t kOnlineHost[] = u"Host";
inline constexpr char16_t kOnlineNewsHost[] = u"NewsHost";
inline constexpr char16_t kOnlineCaFile[] = u"CaFile";

// Whether a text is a host name or address with an optional port, with
// nothing in it that could change the URL it is put into.
inline bool isHostAndPort(std::string_view host) {
    if (host.empty() || host.size() > 255) return false;
    size_t colons = 0;
    for (unsigned char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == ':' ||
                        c == '[' || c == ']';
        if (!ok) return false;
        if (c == ':') ++colons;
    }
    if (host.front() == ':' || host.back() == ':') return false;
    // A bare IPv6 address must be bracketed.
    return colons <= 1 || host.front() == '[';
}

}  // namespace names
