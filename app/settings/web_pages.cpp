#include "app/settings/web_pages.h"

#include "app/settings/online_config.h"
#include "app/shell/app_log.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/shell.h"

int32_t DoOpenExtraOVUrl(int32_t id) {
    LogEntry(u"DoOpenExtraOVUrl");
    const std::u16string address = WebPageAddress(id);
    uint32_t debug = 0;
    uint32_t size = sizeof debug;
    GetRegValue(names::kSettingsKey, names::kDebug, &debug, &size);
    if (debug == 1) {
        gAppLog.level = LOG_DEBUG;
        gAppLog.Write(u"Open: %s %s", u"xdg-open", address.c_str());
        gAppLog.level = LOG_INFO;
    }
    if (address.empty()) {
        gAppLog.Write(u"DoOpenExtraOVUrl: no web page is configured for %d", id);
        return 0;
    }
    if (const uint32_t rc = platform::openWebPage(address); rc != 0) {
        gAppLog.Write(u"DoOpenExtraOVUrl: the page %s cannot be opened, Code: %d", address.c_str(),
                      int(rc));
        return 0;
    }
    return 1;
}
