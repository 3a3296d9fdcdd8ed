#include "app/settings/online_requests.h"

#include <cstring>

#include "app/settings/online_config.h"
#include "app/settings/online_encoding.h"
#include "app/shell/app_log.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/http.h"
#include "platform/text.h"

namespace {

// A reply status the request counts as delivered.
bool delivered(long status) { return status >= 200 && status < 300; }

}  // namespace

int32_t SendOnlineRequest(const char16_t* operation, const char16_t* pathFormat,
                          const std::string& encodedData) {
    OnlineConfig config;
    if (LoadOnlineConfig(operation, config) == 0) return 0;
    platform::HttpsClient client;
    if (const uint32_t rc = client.open(); rc != 0) {
        gAppLog.Write(u"Internet Open Failed, Code: %d", int(rc));
        return 0;
    }
    const std::u16string path =
        platform::format16(pathFormat, platform::toUtf16(encodedData).c_str());
    const std::string url = "https://" + config.host + platform::toUtf8(path);
    if (url.size() > kOnlineMaxUnits) {
        gAppLog.Write(u"%s: not sent, the URL of %d characters does not fit in %d", operation,
                      int(url.size()), int(kOnlineMaxUnits));
        return 0;
    }
    std::string canonical;
    if (const uint32_t rc = platform::canonicalizeHttpsUrl(url, canonical); rc != 0) {
        gAppLog.Write(u"Internet Canonicalize Url Failed, Code: %d", int(rc));
        return 0;
    }
    platform::HttpsOptions options;
    options.caFile = config.caFile;
    options.maxBodyBytes = 0;  // the reply is not read
    platform::HttpsReply reply;
    const uint32_t rc = client.get(canonical, options, reply);
    if (rc != 0 || !delivered(reply.status)) {
        const int code = rc != 0 ? int(rc) : int(reply.status);
        gAppLog.Write(u"Internet Open Url Failed, Code: %d", code);
        if (!reply.error.empty()) {
            gAppLog.Write(u"%s: %s", operation, platform::toUtf16(reply.error).c_str());
        }
        return 0;
    }
    return 1;
}

int32_t CheckAndSendEmailNotifier(const char16_t* summary) {
    LogEntry(u"CheckAndSendEmailNotifier");
    uint32_t notifire = 0;
    uint32_t size = sizeof notifire;
    GetRegValue(names::kProductKey, names::kValueNotifire, &notifire, &size);
    if (notifire != 1) return 0;
    char16_t email[256] = {};
    size = sizeof email;
    GetRegValue(names::kProductKey, names::kValueEMail, email, &size);
    email[255] = 0;
    const std::u16string address(email, platform::length16(email));
    if (address.find(u'@') == std::u16string::npos) return 0;
    if (summary == nullptr) summary = u"";

    const std::u16string payload = platform::format16(u"%s|||%s", address.c_str(), summary);
    if (payload.size() > kOnlineMaxUnits) {
        gAppLog.Write(
            u"CheckAndSendEmailNotifier: not sent, the payload of %d characters does "
            u"not fit in %d",
            int(payload.size()), int(kOnlineMaxUnits));
        return 0;
    }
    return SendOnlineRequest(u"CheckAndSendEmailNotifier", kEmailNoticePath,
                             PercentEncode(ScrambleEmailPayload(payload)));
}

int32_t SendFeedbackOnline(const char16_t* email, const char16_t* name, const char16_t* feedback) {
    LogEntry(u"SendFeedbackOnline");
    if (email == nullptr || name == nullptr || feedback == nullptr) return 0;
    const std::u16string payload = platform::format16(u"%s|||%s|||%s", email, name, feedback);
    if (payload.size() > kOnlineMaxUnits) {
        gAppLog.Write(
            u"SendFeedbackOnline: not sent, the payload of %d characters does not fit "
            u"in %d",
            int(payload.size()), int(kOnlineMaxUnits));
        return 0;
    }
    return SendOnlineRequest(u"SendFeedbackOnline", kFeedbackPath,
                             PercentEncode(platform::toUtf8(payload)));
}
