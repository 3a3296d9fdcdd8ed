// Reads a scan report one line at a time, however large the report is (a
// full scan with debug traces on writes hundreds of megabytes). The report
// may still be open for writing by the scan; it is read with what it holds.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs.h"

class ReportReader {
public:
    // Bytes kept of one line; the rest of a longer line is passed over.
    static constexpr size_t kMaxLineBytes = 65536;

    // 0 when the report is open.
    [[nodiscard]] uint32_t open(std::u16string_view path);
    // The next line with its line feed (the last one may have none); false at
    // the end or on a read error.
    bool nextLine(std::string& line);

private:
    bool fill();

    platform::File m_file;
    std::string m_buffer;
    size_t m_at = 0;
    bool m_end = false;
};

// The infection count of a report file as the reports list shows it (0 when
// it cannot be read or has no summary); found says whether a summary label
// was there.
int32_t ReportFileResultCount(std::u16string_view path, bool& found);
