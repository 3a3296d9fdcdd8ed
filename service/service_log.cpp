#include "service/service_log.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "common/registry_names.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/registry.h"

namespace ovsvc {

namespace {

std::mutex g_logLock;
std::FILE* g_log = nullptr;

}  // namespace

bool openServiceLog() {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_log) std::fclose(g_log);
    g_log = nullptr;
    const std::string host = platform::toHostPath(kServiceLogRelativePath);
    if (host.empty()) return false;
    g_log = std::fopen(host.c_str(), "w+e");
    // Whole lines reach the file at once, so a reader (or a crash) never
    // misses what was logged before.
    if (g_log) std::setvbuf(g_log, nullptr, _IOLBF, 8192);
    return g_log != nullptr;
}

void closeServiceLog() {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_log) std::fclose(g_log);
    g_log = nullptr;
}

bool serviceLogOpen() {
    std::lock_guard<std::mutex> hold(g_logLock);
    return g_log != nullptr;
}

void logFormat(const char* format, ...) {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (!g_log) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(g_log, format, args);
    va_end(args);
}

void logText(std::string_view text) {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (!g_log) return;
    std::fwrite(text.data(), 1, text.size(), g_log);
}

void logFlush() {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (g_log) std::fflush(g_log);
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
