#include "service/service_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "common/registry_names.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/registry.h"

namespace ovsvc {

namespace {

using Clock = std::chrono::steady_clock;

// The stream's buffer. Held lines are written out before they would fill
// it, so that every write the file gets ends on a line end.
constexpr size_t kLogBufferBytes = 64 * 1024;

std::mutex g_logLock;
std::FILE* g_log = nullptr;
size_t g_unwritten = 0;           // bytes in the stream's buffer
Clock::time_point g_lastWrite{};  // of the stream's buffer to the file

// The calling thread's lines are held (holdServiceLog).
thread_local bool t_holding = false;

// The service's threads (the watcher loop, the schedule thread) log at the
// same time, and some lines are written in pieces ("FlipFile: ..." steps, a
// file's name and digest before its verdict). Each thread's text is kept
// until its line is whole, so that a line of one thread never lands inside
// a line of another; what a thread leaves unfinished is written when it
// ends or closes the log.
struct PendingLine {
    std::string text;
    ~PendingLine();
};

thread_local PendingLine t_pending;

void flushLocked() {
    if (!g_log) return;
    std::fflush(g_log);
    g_unwritten = 0;
    g_lastWrite = Clock::now();
}

// A line that reports an error or lost changes is not kept back: whoever
// reads the log then (or finds it after a crash) sees it.
bool reportsAFault(std::string_view text) {
    return text.find("ERROR") != std::string_view::npos ||
           text.find("CRITICAL") != std::string_view::npos;
}

void writeLocked(std::string_view text) {
    if (!g_log || text.empty()) return;
    if (g_unwritten + text.size() >= kLogBufferBytes) flushLocked();
    std::fwrite(text.data(), 1, text.size(), g_log);
    g_unwritten += text.size();
    if (!t_holding || reportsAFault(text) || Clock::now() - g_lastWrite >= kLogHoldLimit)
        flushLocked();
}

PendingLine::~PendingLine() {
    std::lock_guard<std::mutex> hold(g_logLock);
    writeLocked(text);
    flushLocked();
}

void append(std::string_view text) {
    std::string& pending = t_pending.text;
    pending.append(text);
    const size_t end = pending.rfind('\n');
    if (end == std::string::npos) return;
    std::lock_guard<std::mutex> hold(g_logLock);
    writeLocked(std::string_view(pending).substr(0, end + 1));
    pending.erase(0, end + 1);
}

}  // namespace

bool openServiceLog() {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_log) std::fclose(g_log);
    g_log = nullptr;
    g_unwritten = 0;
    const std::string host = platform::toHostPath(kServiceLogRelativePath);
    if (host.empty()) return false;
    g_log = std::fopen(host.c_str(), "w+e");
    // The stream writes only when told (writeLocked decides when), so that
    // the lines of a burst go to the file in a few large writes.
    if (g_log) std::setvbuf(g_log, nullptr, _IOFBF, kLogBufferBytes);
    g_lastWrite = Clock::now();
    return g_log != nullptr;
}

void closeServiceLog() {
    std::lock_guard<std::mutex> hold(g_logLock);
    writeLocked(t_pending.text);
    t_pending.text.clear();
    if (g_log) std::fclose(g_log);
    g_log = nullptr;
    g_unwritten = 0;
}

bool serviceLogOpen() {
    std::lock_guard<std::mutex> hold(g_logLock);
    return g_log != nullptr;
}

void logFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    append(text);
}

void logText(std::string_view text) { append(text); }

void logFlush() {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_unwritten == 0) return;
    if (!t_holding || Clock::now() - g_lastWrite >= kLogHoldLimit) flushLocked();
}

void logFlushNow() {
    std::lock_guard<std::mutex> hold(g_logLock);
    flushLocked();
}

void holdServiceLog() { t_holding = true; }

void releaseServiceLog() {
    t_holding = false;
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_unwritten > 0) flushLocked();
}

bool debugEnabled() {
    uint32_t value = 0;
    if (platform::readDword(platform::RegRoot::LocalMachine, names::kSettingsKey, names::kDebug,
                            value) != 0) {
        return false;
    }
    return value == 1;
}

}  // namespace ovsvc
