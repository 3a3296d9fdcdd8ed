#include "app/results/report_reader.h"

#include "app/results/report_text.h"
#include "platform/error.h"

using namespace platform;

uint32_t ReportReader::open(std::u16string_view path) {
    m_buffer.clear();
    m_at = 0;
    m_end = false;
    return File::open(path, kGenericRead, kShareRead | kShareWrite | kShareDelete,
                      Disposition::OpenExisting, m_file);
}

bool ReportReader::fill() {
    if (m_end || !m_file.isOpen()) return false;
    m_buffer.erase(0, m_at);
    m_at = 0;
    char chunk[65536];
    uint32_t got = 0;
    if (m_file.read(chunk, sizeof chunk, got) != kErrorSuccess || got == 0) {
        m_end = true;
        return false;
    }
    m_buffer.append(chunk, got);
    return true;
}

bool ReportReader::nextLine(std::string& line) {
    line.clear();
    bool skipping = false;
    for (;;) {
        size_t feed = m_buffer.find('\n', m_at);
        size_t end = feed == std::string::npos ? m_buffer.size() : feed + 1;
        if (!skipping) {
            size_t room = kMaxLineBytes - line.size();
            line.append(m_buffer, m_at, std::min(end - m_at, room));
            if (line.size() >= kMaxLineBytes) skipping = true;
        }
        m_at = end;
        if (feed != std::string::npos) return true;
        if (!fill()) return !line.empty();
    }
}

int32_t ReportFileResultCount(std::u16string_view path, bool& found) {
    found = false;
    ReportReader reader;
    if (reader.open(path) != kErrorSuccess) return 0;
    // The first "Object Scanned," counts; the older "Object Scand," only
    // when the report has no "Object Scanned," at all.
    std::string line, older;
    while (reader.nextLine(line)) {
        if (line.find("Object Scanned,") != std::string::npos) {
            found = true;
            return ScanResultCountFromText(line);
        }
        if (older.empty() && line.find("Object Scand,") != std::string::npos) older = line;
    }
    found = !older.empty();
    return found ? ScanResultCountFromText(older) : 0;
}
