// The application's diagnostic log: one UTF-16LE file per run, without a
// byte-order mark, lines ended by a single line feed. Any thread may write to
// it; the lock keeps each stamp-and-message pair together.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/fs.h"

// Level codes of a line; any other value is written with the INFO tag.
inline constexpr int32_t LOG_INFO = 1075;
inline constexpr int32_t LOG_WARNING = 1076;
inline constexpr int32_t LOG_DEBUG = 1077;
inline constexpr int32_t LOG_DEBUG_2 = 1078;
inline constexpr int32_t LOG_ERROR = 1079;

class CAppLog {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    CAppLog();
    virtual ~CAppLog();
    CAppLog(const CAppLog&) = delete;
    CAppLog& operator=(const CAppLog&) = delete;

    // Creates the file empty (replacing an old one) and writes the banner.
    // A null name means "errors.log". 0 on success; -1 when the file cannot
    // be created, after which the log is disabled.
    int32_t Open(const char16_t* fileName);

    // Writes one line at the level held in `level`: 0 written, -1 empty
    // format, -2 log not enabled, 8 when the line's buffer cannot be had.
    // A message longer than its buffer (2 x format length + 1024 units,
    // line feed included) is cut so that the line still ends with a line feed.
    int32_t Write(const char16_t* format, ...);

    // Back to the state of a fresh process: file closed, path cleared,
    // level 1075, enabled 1, clock the system clock. Tests call it between
    // cases; the destructor does the same.
    void Reset();

    // The clock the stamps are taken from (UTC); tests set a fixed one.
    void SetClock(Clock clock);

    const std::u16string& Path() const { return path; }
    bool IsEnabled() const { return enabled == 1; }

    // Level of the next line; callers set it right before Write and back to
    // LOG_INFO right after.
    std::atomic<int32_t> level{LOG_INFO};

    // The 306-character banner and the prefix of a line (stamp and tag).
    static std::u16string Banner();
    static std::u16string LinePrefix(std::chrono::system_clock::time_point when, int32_t level);
    static const char16_t* LevelTag(int32_t level);

private:
    void WriteBanner();
    void WriteUnits(std::u16string_view text);

    platform::File file;
    std::u16string path;
    std::atomic<int32_t> enabled{1};
    std::mutex lock;
    Clock m_clock;
};

// The one log of the process.
extern CAppLog gAppLog;

// Writes "In <name>" to gAppLog, as every operation does on entry.
void LogEntry(const char16_t* name);
