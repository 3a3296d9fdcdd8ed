// Debug traces of the results dialogs: written at LOG_DEBUG only when the
// "Debug" setting is 1, read at each trace so a change takes effect at once.
#pragma once

bool DebugSettingOn();
// Writes text at LOG_DEBUG when Debug is 1, then puts the level back.
void DebugTrace(const char16_t* format, ...);

// Holds the application log at LOG_DEBUG while an operation runs, and puts
// it back to LOG_INFO when it returns.
class DebugLevelScope {
public:
    DebugLevelScope();
    ~DebugLevelScope();
    DebugLevelScope(const DebugLevelScope&) = delete;
    DebugLevelScope& operator=(const DebugLevelScope&) = delete;
};
