#include "app/results/debug_trace.h"

#include <cstdarg>
#include <cstdint>
#include <string>

#include "app/shell/app_log.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/text.h"

bool DebugSettingOn() {
    uint32_t debug = 0;
    uint32_t size = sizeof(debug);
    return GetRegValue(names::kSettingsKey, names::kDebug, &debug, &size) == 0 && debug == 1;
}

void DebugTrace(const char16_t* format, ...) {
    if (!DebugSettingOn()) return;
    va_list args;
    va_start(args, format);
    std::u16string text = platform::vformat16(format, args);
    va_end(args);
    int32_t previous = gAppLog.level;
    gAppLog.level = LOG_DEBUG;
    gAppLog.Write(u"%s", text.c_str());
    gAppLog.level = previous;
}

DebugLevelScope::DebugLevelScope() { gAppLog.level = LOG_DEBUG; }
DebugLevelScope::~DebugLevelScope() { gAppLog.level = LOG_INFO; }
