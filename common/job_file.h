// The scheduled-job file: one job per file in the "jobs" folder beside the
// program folder, named "ovjob0.ovj" to "ovjob9.ovj" (the digit is a free
// slot, nothing else). UTF-16LE without byte-order mark, every line ended by
// one line feed, no terminating zero. The job editor writes it, the schedule
// list and the application's scheduled start read it, the service's
// schedule watcher reads it every minute; all of them go through here.
//
// Reading rule, the same for every reader: a value is found by searching the
// whole text for its key with the "=" (first occurrence, case-sensitive) and
// taking what follows up to the next line feed. A job is weekly when the
// character 7 places after the start of "Daily=" is "W" (the Daily value is
// empty and the "Weekly=" line follows at once); otherwise it is daily.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jobfile {

// Slots 0 to 9.
inline constexpr int kSlotCount = 10;
// Job files larger than this are not job files (the editor writes well
// under 4 KiB); readers refuse them with 8 rather than hold them in memory.
inline constexpr uint64_t kMaxJobFileBytes = 64 * 1024;
// Limits of the editor's fields, in UTF-16 units.
inline constexpr size_t kMaxNameUnits = 511;
inline constexpr size_t kMaxValueUnits = 511;

// "ovjob0.ovj" .. "ovjob9.ovj".
std::u16string slotFileName(int slot);

// What the job editor writes.
struct JobFields {
    std::u16string name;
    std::u16string description;
    int32_t type = 1034;    // 1034 Threat Scout, 1035 Full System Scout, 1036 Custom Scout
    bool weekly = false;    // daily otherwise
    std::u16string time;    // the time picker's text of the chosen interval
    bool days[7] = {};      // Sunday .. Saturday, weekly jobs only
    bool shutdown = false;  // "Shutdown after scan finish."; nothing reads it
};

// The lines of a job file, in their order: "[JOB]", Name, Desc, Type,
// Daily/Weekly (a weekly time gets one blank after it), the seven weekday
// lines of a weekly job, Shutdown, "SendMail=0" .. "Action=0" and
// "Status=1224".
std::u16string jobFileText(const JobFields& job);
// The same as the file's bytes (UTF-16LE).
std::string jobFileBytes(const JobFields& job);

// A job file's text as the readers see it: the UTF-16LE units up to the
// first zero unit (an odd last byte is dropped).
std::u16string decodeJobFile(std::string_view bytes);

// The value of a key (given without "="), by the reading rule; nullopt when
// the key does not occur.
std::optional<std::u16string_view> jobValue(std::u16string_view text, std::u16string_view key);

// By the "Daily=" + 7 rule; a text without "Daily=" is daily.
bool isWeeklyJob(std::u16string_view text);
// The position of "Daily=" + 7 and the character there (0 when past the end
// or when there is no "Daily="), for the watcher's trace.
struct WeeklyMark {
    size_t position = 0;
    char16_t character = 0;
};
WeeklyMark weeklyMark(std::u16string_view text);

// The time text of the job's interval: the Daily value of a daily job, the
// Weekly value (trailing blank included) of a weekly one.
std::optional<std::u16string_view> jobTimeText(std::u16string_view text);

// Whether a weekly job's text holds "<Weekday>=1" for a weekday (0 Sunday).
bool runsOnWeekday(std::u16string_view text, int dayOfWeek);
// "Sunday" .. "Saturday"; null outside 0..6.
const char16_t* weekdayName(int dayOfWeek);

// A number as the readers take it: leading blanks, an optional sign, then
// decimal digits; 0 when there are none.
int32_t leadingNumber(std::u16string_view text);

// The hour and minute of a time text: the hour from the digits before the
// first ":", the minute from those between the first and the second (an
// empty part reads as 0); with "PM" anywhere hours 1 to 11 get 12 added,
// "12" with "AM" is hour 0. A text without ":" or with an hour above 23 or a
// minute above 59 has no time and never matches.
struct JobClock {
    bool valid = false;
    int hour = 0;
    int minute = 0;
    int rawHour = 0;  // the numbers as written, for the trace
    int rawMinute = 0;
};
JobClock parseJobTime(std::u16string_view timeText);

// Texts the schedule list shows.
const char16_t* statusDisplayText(int32_t status);  // "Active" for an unknown code
const char16_t* typeDisplayText(int32_t type);      // "Threat Scout" for an unknown code

// Reads a job file whole (existing only, never through a link another user
// could have planted) and decodes it: 0 and the text, or the error of the
// open or read (8 when larger than kMaxJobFileBytes).
[[nodiscard]] uint32_t readJobFile(std::u16string_view path, std::u16string& text);

}  // namespace jobfile
