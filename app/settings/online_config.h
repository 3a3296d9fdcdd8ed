// Where the online services go: Host, NewsHost, CaFile and the web pages
// under the Online key (common/online_names.h tells what each value holds).
#pragma once
#include <cstdint>
#include <string>

#include "common/online_names.h"

using names::kOnlineCaFile;
using names::kOnlineHost;
using names::kOnlineKey;
using names::kOnlineNewsHost;

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
