#include "app/shell/app_log.h"

#include <cstdarg>
#include <new>

#include "platform/error.h"
#include "platform/text.h"

CAppLog gAppLog;

namespace {

constexpr int32_t kResultEmptyFormat = -1;
constexpr int32_t kResultDisabled = -2;

}  // namespace

CAppLog::CAppLog() : m_clock([] { return std::chrono::system_clock::now(); }) {}

CAppLog::~CAppLog() { Reset(); }

void CAppLog::Reset() {
    std::lock_guard<std::mutex> guard(lock);
    file.close();
    path.clear();
    level = LOG_INFO;
    enabled = 1;
    m_clock = [] { return std::chrono::system_clock::now(); };
}

void CAppLog::SetClock(Clock clock) {
    std::lock_guard<std::mutex> guard(lock);
    m_clock = std::move(clock);
}

int32_t CAppLog::Open(const char16_t* fileName) {
    std::lock_guard<std::mutex> guard(lock);
    file.close();
    path = (fileName != nullptr && *fileName != 0) ? std::u16string(fileName) : u"errors.log";
    if (path.size() > 260) path.resize(260);
    // Private (0600) and never through a link planted at its name.
    if (platform::File::createLog(path, platform::kShareRead | platform::kShareWrite, file) != 0) {
        enabled = 0;
        return -1;
    }
    WriteBanner();
    return 0;
}

std::u16string CAppLog::Banner() {
    const std::u16string hashes = u"   " + std::u16string(44, u'#') + u"\n";
    const std::u16string blank = u"   #" + std::u16string(42, u' ') + u"#\n";
    const std::u16string title = u"   #" + std::u16string(9, u' ') + u"Orvane log file" +
                                 std::u16string(42 - 9 - 15, u' ') + u"#\n";
    return hashes + blank + title + blank + blank + hashes + u"\n\nLog Starting...\n";
}

const char16_t* CAppLog::LevelTag(int32_t code) {
    switch (code) {
        case LOG_WARNING:
            return u" [WARNING] ";
        case LOG_DEBUG:
        case LOG_DEBUG_2:
            return u" [DEBUG] ";
        case LOG_ERROR:
            return u" [ERROR] ";
        default:
            return u" [INFO] ";
    }
}

std::u16string CAppLog::LinePrefix(std::chrono::system_clock::time_point when, int32_t code) {
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{floor<seconds>(when - day)};
    return platform::format16(u"%02d-%02d-%04d %02d:%02d:%02d", unsigned(date.month()),
                              unsigned(date.day()), int(date.year()), int(time.hours().count()),
                              int(time.minutes().count()), int(time.seconds().count())) +
           LevelTag(code);
}

void CAppLog::WriteUnits(std::u16string_view text) {
    const std::string bytes = platform::toUtf16LeBytes(text);
    // Failed writes are ignored: the log never stops the application.
    uint32_t written = 0;
    (void)file.write(bytes.data(), static_cast<uint32_t>(bytes.size()), written);
}

void CAppLog::WriteBanner() { WriteUnits(Banner()); }

int32_t CAppLog::Write(const char16_t* format, ...) {
    std::lock_guard<std::mutex> guard(lock);
    const size_t formatLength = platform::length16(format);
    if (formatLength == 0) return kResultEmptyFormat;
    if (enabled != 1) return kResultDisabled;
    if (!file.isOpen()) return 0;  // before Open: nothing to write to

    std::u16string message;
    try {
        // The line's buffer: room for 2n + 1024 units, line feed and
        // terminating zero included.
        const size_t capacity = 2 * formatLength + 1024;
        va_list args;
        va_start(args, format);
        message = platform::vformat16(format, args);
        va_end(args);
        if (message.size() > capacity - 2) {
            size_t keep = capacity - 2;
            // Never leave half a surrogate pair at the cut.
            if (message[keep - 1] >= 0xD800 && message[keep - 1] <= 0xDBFF) --keep;
            message.resize(keep);
        }
        message.push_back(u'\n');
    } catch (const std::bad_alloc&) {
        return static_cast<int32_t>(platform::kErrorNotEnoughMemory);
    }
    WriteUnits(LinePrefix(m_clock(), level.load()));
    WriteUnits(message);
    return 0;
}

void LogEntry(const char16_t* name) { gAppLog.Write(u"In %s", name); }
