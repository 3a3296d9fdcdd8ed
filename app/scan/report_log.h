// The scan report log: one file per scan in <install root>\logs, named after
// the scan's start (UTC), single-byte ANSI text whose lines end in the two
// bytes 0x0A 0x0D. A header when the scan type is known, report and debug
// lines while the scan runs, a footer with the totals at the end. The
// results list and the reports dialog read these files.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/scan/write_behind.h"
#include "platform/fs.h"

// A moment in UTC, broken down as the log's name and header show it.
struct ReportTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

using ReportClock = std::function<ReportTime()>;

// The current UTC time.
ReportTime CurrentUtcTime();

// The file name of a log started at a given time: Orvane_M.D.YYYY.h.m.s.log.
std::u16string ReportLogFileName(const ReportTime& time);

// One report log. Not thread-safe: lines are written by the thread that
// handles the engine's messages.
class ReportLog {
public:
    explicit ReportLog(ReportClock clock = CurrentUtcTime) : m_clock(std::move(clock)) {}
    ~ReportLog();  // writes what is still held
    ReportLog(const ReportLog&) = delete;
    ReportLog& operator=(const ReportLog&) = delete;

    // Moves to the install root, creates (replaces) logs\Orvane_*.log in the
    // installation's logs folder and writes the header. 1, or 0 when there
    // is no installation or the file cannot be created (every later write
    // is then skipped).
    int32_t open(const char16_t* scanTypeText);
    // A report line, or a debug line ("*** DEBUG *** " first). 1, or 0 for
    // a null text or when no log is open. A report line is in the file when
    // this returns, after every line before it; debug lines are held and
    // handed on in blocks of up to 64 KiB, at the latest with the first line
    // written 200 ms after the last, to be written behind the scan, and are
    // in the file with any report line, the footer or the next open.
    int32_t writeLine(const char16_t* text, bool debug);
    // Writes the totals and the end time, closes the file. 1, or 0 when no
    // log is open.
    int32_t writeFooter(int32_t objectsScanned, int32_t infectedCount);

    bool isOpen() const { return m_file.isOpen(); }
    // Why the last open failed (a Windows error code; 3 when there is no
    // installation with a logs folder); 0 after a successful open.
    uint32_t openError() const { return m_openError; }
    // Windows form of the open (or last) log; empty before the first open.
    const std::u16string& path() const { return m_path; }

private:
    void writeText(const std::u16string& text);
    // Writes what is held, after every block handed on before.
    void flush();
    // Hands what is held (debug lines) on to be written behind.
    void flushBehind();

    ReportClock m_clock;
    platform::File m_file;
    // Writes blocks of debug lines while the scan goes on; made with the
    // first, and gone before the file.
    std::unique_ptr<WriteBehind> m_behind;
    std::string m_pending;  // debug lines not yet written
    int64_t m_lastFlushMs = 0;  // coarse clock
    uint32_t m_linesSinceClock = 0;  // debug lines since the clock was last read
    std::u16string m_path;
    uint32_t m_openError = 0;
};

// The log of the running scan, over which the free functions below work.
ReportLog& DefaultReportLog();
// Closes the default log (without footer) and gives it a clock; for tests.
void ResetDefaultReportLog(ReportClock clock = CurrentUtcTime);

int32_t OpenReportLog(const char16_t* scanTypeText);
int32_t WriteReportLine(const char16_t* text, int32_t debug);
int32_t WriteReportFooter(int32_t objectsScanned, int32_t infectedCount);

// The logs folder of the installation the registry value "Path" names (the
// program folder's sibling "logs"); empty when there is no such
// installation, or "logs" is missing or not a real folder.
std::u16string ReportLogsFolder();

// Working directory from the registry value "Path" (the program folder),
// when it is longer than 3 characters: the install root (its parent), or the
// program folder itself.
void SetWorkDirToInstallRoot();
void SetWorkDirToProgramFolder();
