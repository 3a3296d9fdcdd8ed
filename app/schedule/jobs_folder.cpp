#include "app/schedule/jobs_folder.h"

#include <cstdarg>

#include "app/shell/app_log.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/text.h"

std::u16string ApplicationJobsFolder() {
    char16_t path[256] = {};
    uint32_t size = sizeof(path) - sizeof(char16_t);
    if (GetRegValue(names::kProductKey, names::kValuePath, path, &size) != 0 ||
        platform::length16(path) == 0) {
        return u"..\\jobs";
    }
    return std::u16string(path) + u"\\..\\jobs";
}

bool ScheduleDebugEnabled() {
    uint32_t debug = 0;
    uint32_t size = sizeof debug;
    return GetRegValue(names::kSettingsKey, names::kDebug, &debug, &size) == 0 && debug == 1;
}

void LogScheduleDebug(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const std::u16string line = platform::vformat16(format, args);
    va_end(args);
    gAppLog.level = LOG_DEBUG;
    gAppLog.Write(u"%s", line.c_str());
    gAppLog.level = LOG_INFO;
}
