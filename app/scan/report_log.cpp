#include "app/scan/report_log.h"

#include <chrono>
#include <memory>

#include "app/scan/line_text.h"
#include "common/registry_names.h"
#include "platform/coarse_clock.h"
#include "platform/error.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

// Every line of the log ends in line feed then carriage return, in this order.
constexpr char16_t kLineEnd[] = u"\n\r";
constexpr char kLineEndAnsi[] = "\n\r";
// Debug lines wait in memory for at most this many bytes or this long.
constexpr size_t kFlushBytes = 64 * 1024;
constexpr int64_t kFlushIntervalMs = 200;
constexpr uint32_t kLinesPerClockLook = 8;
constexpr char kDebugPrefix[] = "*** DEBUG *** ";

constexpr char16_t kHeaderLabel[] = u"Wardline";
constexpr char16_t kWebAddress[] = u"https://www.orvane.example";
constexpr char16_t kCredit[] = u" Protected by Orvane Anti-Malware, Wardline engine.";

// "Path" of the product key (at most 512 bytes); empty when unreadable.
std::u16string ReadInstallPath() {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key) != 0)
        return {};
    char16_t buffer[256] = {};
    uint32_t size = sizeof buffer;
    if (key.queryValue(names::kValuePath, nullptr, buffer, &size) != 0) return {};
    buffer[255] = 0;
    return buffer;
}

}  // namespace

ReportTime CurrentUtcTime() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto days = floor<std::chrono::days>(now);
    const year_month_day date(days);
    const hh_mm_ss<seconds> clock(floor<seconds>(now - days));
    ReportTime t;
    t.year = static_cast<int>(date.year());
    t.month = static_cast<int>(static_cast<unsigned>(date.month()));
    t.day = static_cast<int>(static_cast<unsigned>(date.day()));
    t.hour = static_cast<int>(clock.hours().count());
    t.minute = static_cast<int>(clock.minutes().count());
    t.second = static_cast<int>(clock.seconds().count());
    return t;
}

std::u16string ReportLogFileName(const ReportTime& t) {
    return platform::format16(u"Orvane_%d.%d.%d.%d.%d.%d.log", t.month, t.day, t.year, t.hour,
                              t.minute, t.second);
}

ReportLog::~ReportLog() { flush(); }

void ReportLog::writeText(const std::u16string& text) {
    // This platform's ANSI code page is UTF-8: nothing is lost in the log.
    std::string ansi = platform::toAnsi(text);
    size_t end = ansi.find('\0');
    if (end != std::string::npos) ansi.resize(end);
    m_pending += ansi;
    flush();
}

void ReportLog::flush() {
    m_lastFlushMs = platform::coarseMonotonicMs();
    if (m_behind) m_behind->drain();
    if (m_pending.empty() || !m_file.isOpen()) return;
    uint32_t written = 0;
    (void)m_file.write(m_pending.data(), static_cast<uint32_t>(m_pending.size()), written);
    m_pending.clear();
}

void ReportLog::flushBehind() {
    m_lastFlushMs = platform::coarseMonotonicMs();
    if (m_pending.empty() || !m_file.isOpen()) return;
    if (!m_behind) m_behind = std::make_unique<WriteBehind>(m_file);
    std::string block;
    block.reserve(kFlushBytes + 4096);
    block.swap(m_pending);
    m_behind->write(std::move(block));
}

int32_t ReportLog::open(const char16_t* scanTypeText) {
    flush();
    m_file.close();
    m_openError = 0;
    SetWorkDirToInstallRoot();
    const ReportTime t = m_clock();
    // Only ever into the installation's own logs folder: never into whatever
    // folder the process happens to be in when the registry names none.
    const std::u16string folder = ReportLogsFolder();
    if (folder.empty()) {
        m_path.clear();
        m_openError = platform::kErrorPathNotFound;
        return 0;
    }
    m_path = folder + u"\\" + ReportLogFileName(t);

    // Created without following a link planted at its name, readable by its
    // owner only; an earlier report is replaced only when it is a file of ours.
    platform::File file;
    m_openError =
        platform::File::createLog(m_path, platform::kShareRead | platform::kShareWrite, file);
    if (m_openError != 0) return 0;
    m_file = std::move(file);

    const char16_t* type = scanTypeText ? scanTypeText : u"";
    writeText(platform::format16(u"\n\r Orvane Anti-Malware (%s)\n\r", kHeaderLabel));
    writeText(platform::format16(u" %s\n\r", kWebAddress));
    writeText(platform::format16(
        u"\n\r\n\r Scan Type: %s\n\r\n\r Started On: %02d/%02d/%04d/ %02d:%02d:%02d\n\r\n\r", type,
        t.month, t.day, t.year, t.hour, t.minute, t.second));
    return 1;
}

int32_t ReportLog::writeLine(const char16_t* text, bool debug) {
    if (!text || !m_file.isOpen()) return 0;
    // A text is one line: the results list reads the log line by line, so a
    // line break inside a file name ("a\n Infected Generic ...: c:\x.dll")
    // would make up a finding for another file. Breaks inside the text
    // become "?" (no file name holds one); those at its end, as " Hidden
    // process: %s\n" carries, stay.
    if (debug) m_pending += kDebugPrefix;
    const size_t at = m_pending.size();
    const size_t length = UnitsBeforeZero(text);
    const std::u16string_view view(text, length);
    size_t end = length;
    while (end > 0 && (view[end - 1] == u'\n' || view[end - 1] == u'\r')) --end;
    // The usual line is ASCII: narrowed straight into the pending block,
    // breaks replaced on the way (with Debug on, this is hundreds of
    // megabytes a scan).
    m_pending.resize(at + end);
    if (!NarrowAsciiLine(text, end, m_pending.data() + at)) {
        m_pending.resize(at);
        m_pending += platform::toAnsi(view.substr(0, end));
        for (size_t i = at; i < m_pending.size(); ++i)
            if (m_pending[i] == '\n' || m_pending[i] == '\r') m_pending[i] = '?';
    }
    // The breaks at its end, as they came.
    for (char16_t c : view.substr(end)) m_pending.push_back(static_cast<char>(c));
    m_pending += kLineEndAnsi;
    // Report lines reach the file at once; debug lines, thousands a second
    // while Debug is on, in blocks, and a moment after: the clock is read at
    // every eighth of them, as even the coarse one cost a tenth of a Debug 1
    // scan when it was read for each (and the precise one more).
    if (!debug) {
        flush();
    } else if (m_pending.size() >= kFlushBytes) {
        flushBehind();
    } else if (++m_linesSinceClock >= kLinesPerClockLook) {
        m_linesSinceClock = 0;
        if (platform::coarseMonotonicMs() - m_lastFlushMs >= kFlushIntervalMs) flushBehind();
    }
    return 1;
}

int32_t ReportLog::writeFooter(int32_t objectsScanned, int32_t infectedCount) {
    const ReportTime t = m_clock();
    if (!m_file.isOpen()) return 0;
    if (infectedCount != 0) {
        writeText(platform::format16(
            u"\n\r\n\r Scan Finished!, %d Object Scanned, %d Infected Object Found.",
            objectsScanned, infectedCount));
    } else {
        writeText(platform::format16(
            u"\n\r\n\r Scan Finished!, %d Object Scanned, No Infected Found.", objectsScanned));
    }
    writeText(platform::format16(u"\n\r\n\r Ended On: %d/%d/%d/ %d:%d:%d\n\r\n\r%s\n\r\n\r",
                                 t.month, t.day, t.year, t.hour, t.minute, t.second, kCredit));
    flush();
    m_file.close();
    return 1;
}

namespace {
std::unique_ptr<ReportLog>& DefaultSlot() {
    static std::unique_ptr<ReportLog> log = std::make_unique<ReportLog>();
    return log;
}
}  // namespace

ReportLog& DefaultReportLog() { return *DefaultSlot(); }

void ResetDefaultReportLog(ReportClock clock) {
    DefaultSlot() = std::make_unique<ReportLog>(std::move(clock));
}

int32_t OpenReportLog(const char16_t* scanTypeText) {
    return DefaultReportLog().open(scanTypeText);
}

int32_t WriteReportLine(const char16_t* text, int32_t debug) {
    return DefaultReportLog().writeLine(text, debug != 0);
}

int32_t WriteReportFooter(int32_t objectsScanned, int32_t infectedCount) {
    return DefaultReportLog().writeFooter(objectsScanned, infectedCount);
}

std::u16string ReportLogsFolder() {
    const std::u16string program = ReadInstallPath();
    if (program.size() <= 3) return {};
    const uint32_t programAttributes = platform::getFileAttributes(program);
    if (programAttributes == platform::kInvalidAttributes ||
        (programAttributes & platform::kAttrDirectory) == 0)
        return {};
    const std::u16string root = platform::parentPath(program);
    if (root.empty() || root == program) return {};
    const std::u16string logs = platform::joinPath(root, u"logs");
    const uint32_t attributes = platform::getFileAttributes(logs);
    if (attributes == platform::kInvalidAttributes ||
        (attributes & platform::kAttrReparsePoint) != 0 ||
        (attributes & platform::kAttrDirectory) == 0)
        return {};
    return logs;
}

void SetWorkDirToInstallRoot() {
    std::u16string path = ReadInstallPath();
    if (path.size() <= 3) return;
    if (platform::setCurrentDirectory(path) == 0) (void)platform::setCurrentDirectory(u"..");
}

void SetWorkDirToProgramFolder() {
    std::u16string path = ReadInstallPath();
    if (path.size() > 3) (void)platform::setCurrentDirectory(path);
}
