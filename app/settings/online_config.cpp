#include "app/settings/online_config.h"

#include "app/shell/app_log.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

// Ids that open the same page as another: the first id of each row is the
// one looked up when the id itself has no value.
constexpr int32_t kSharedPages[][4] = {
    {32772, 32773, 0, 0},
    {32777, 32782, 0, 0},
    {32780, 32781, 1035, 1045},
    {32780, 1070, 0, 0},
};

std::u16string readOnlineString(const char16_t* name) {
    std::u16string value;
    if (platform::readString(platform::RegRoot::LocalMachine, kOnlineKey, name, value) != 0) {
        return {};
    }
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    return value;
}

}  // namespace

bool IsHostAndPort(const std::string& host) { return names::isHostAndPort(host); }

int32_t LoadOnlineConfig(const char16_t* operation, OnlineConfig& out) {
    out = OnlineConfig{};
    const std::string host = platform::toUtf8(readOnlineString(kOnlineHost));
    if (host.empty()) {
        gAppLog.Write(u"%s: online services are not configured (no Host under HKLM\\%s)", operation,
                      kOnlineKey);
        return 0;
    }
    if (!IsHostAndPort(host)) {
        gAppLog.Write(u"%s: the online Host \"%s\" is not a host[:port]", operation,
                      platform::toUtf16(host).c_str());
        return 0;
    }
    out.host = host;
    const std::string newsHost = platform::toUtf8(readOnlineString(kOnlineNewsHost));
    if (newsHost.empty()) {
        out.newsHost = host;
    } else if (IsHostAndPort(newsHost)) {
        out.newsHost = newsHost;
    } else {
        gAppLog.Write(u"%s: the online NewsHost \"%s\" is not a host[:port]; Host is used",
                      operation, platform::toUtf16(newsHost).c_str());
        out.newsHost = host;
    }
    const std::u16string caFile = readOnlineString(kOnlineCaFile);
    if (!caFile.empty()) {
        out.caFile =
            caFile.front() == u'/' ? platform::toUtf8(caFile) : platform::toHostPath(caFile);
    }
    return 1;
}

std::u16string WebPageAddress(int32_t id) {
    std::u16string address = readOnlineString(platform::format16(u"%d", id).c_str());
    if (!address.empty()) return address;
    for (const auto& row : kSharedPages) {
        for (int32_t member : row) {
            if (member == id && row[0] != id) {
                return readOnlineString(platform::format16(u"%d", row[0]).c_str());
            }
        }
    }
    return {};
}
