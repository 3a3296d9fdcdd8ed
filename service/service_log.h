// The service log "..\logs\orvaneSVC.log": single-byte (ANSI) lines of a
// level tag, the function name, "=>" and the text, opened anew ("w+") at
// every start and shared by every thread of the service. Lines that carry a
// path are written as plain text, never used as a format.
#pragma once
#include <cstdarg>
#include <string_view>

namespace ovsvc {

inline constexpr char16_t kServiceLogRelativePath[] = u"..\\logs\\orvaneSVC.log";

// Opens (truncates or creates) the log; false when it cannot be made.
bool openServiceLog();
void closeServiceLog();
bool serviceLogOpen();

// printf-style text, written as it stands (no line end added).
void logFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Plain text.
void logText(std::string_view text);
void logFlush();

// True while the "Debug" setting is 1 (read at each call).
bool debugEnabled();

}  // namespace ovsvc
