// The service log "..\logs\orvaneSVC.log": single-byte (ANSI) lines of a
// level tag, the function name, "=>" and the text, opened anew ("w+") at
// every start and shared by every thread of the service. Lines that carry a
// path are written as plain text, never used as a format.
//
// Each whole line reaches the file at once, except while the calling thread
// holds the log (holdServiceLog): the service thread does while it works
// through a burst of changes, and its lines are then written in one go
// when it releases the log (the queue ran dry, the loop ends), when a line
// reports an error or a loss (it holds "ERROR" or "CRITICAL"), at
// logFlushNow (a finding), at close, and otherwise at most kLogHoldLimit
// after the last write. Lines keep their order, and a line of one thread
// never lands inside a line of another.
#pragma once
#include <chrono>
#include <cstdarg>
#include <string_view>

namespace ovsvc {

inline constexpr char16_t kServiceLogRelativePath[] = u"..\\logs\\orvaneSVC.log";

// How long the lines of a thread that holds the log may wait for the file.
inline constexpr std::chrono::milliseconds kLogHoldLimit{100};

// Opens (truncates or creates) the log; false when it cannot be made.
bool openServiceLog();
// Writes everything held (and the calling thread's unfinished line) and
// closes the log.
void closeServiceLog();
bool serviceLogOpen();

// printf-style text, written as it stands (no line end added).
void logFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Plain text.
void logText(std::string_view text);
// A flush point: the lines reach the file now unless the calling thread
// holds the log and its hold limit has not passed.
void logFlush();
// The lines held reach the file now, whoever holds the log (a finding).
void logFlushNow();

// From now on the calling thread's whole lines are held (see above).
void holdServiceLog();
// Ends the calling thread's hold and writes what is held.
void releaseServiceLog();

// True while the "Debug" setting is 1 (read at each call).
bool debugEnabled();

}  // namespace ovsvc
