// The Reports list without its window: every scan report in the logs
// folder with its infection count and date, opening one in the text viewer,
// and deleting all logs.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char16_t kLogsFolder[] = u"..\\logs";

class ReportsList {
public:
    struct Row {
        std::u16string name;
        std::u16string results;  // "No Malware Found" or "%d Malware Found"
        std::u16string date;     // month.day.year from the name
    };
    // Starts the text viewer on a path; 0 when it was started.
    using Viewer = std::function<uint32_t(std::u16string_view path)>;

    explicit ReportsList(std::u16string logsFolder = kLogsFolder, Viewer viewer = {});

    // Fills the rows. 1 when the search found reports, 0 when there is none.
    int32_t AddReportsToList();
    // The infection count of one report (0 when unreadable or without summary).
    int32_t GetScanResultCount(const std::u16string& fileName);
    // Starts the viewer with the report's path as its one argument; non-zero
    // when it was started, 0 for a name shorter than 3 characters or a failed
    // start.
    int32_t OpenReportFile(const std::u16string& fileName);
    // Removes every Orvane*.log in the logs folder, passing over a file that
    // cannot be removed (the running application's own log) and going on
    // with the rest. 0.
    int32_t DoDelateAllLogs();

    const std::vector<Row>& rows() const { return m_rows; }
    void clear() { m_rows.clear(); }

private:
    std::u16string m_folder;
    Viewer m_viewer;
    std::vector<Row> m_rows;
};

// "No Malware Found" for 0, else "%d Malware Found".
std::u16string ReportResultText(int32_t count);
