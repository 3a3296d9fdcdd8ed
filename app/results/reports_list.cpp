#include "app/results/reports_list.h"

#include "app/results/debug_trace.h"
#include "app/results/report_reader.h"
#include "app/results/report_text.h"
#include "app/shell/app_log.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/shell.h"
#include "platform/text.h"

using namespace platform;

std::u16string ReportResultText(int32_t count) {
    if (count == 0) return u"No Malware Found";
    std::u16string text = format16(u"%d Malware Found", static_cast<int>(count));
    if (text.size() > 63) text.resize(63);
    return text;
}

ReportsList::ReportsList(std::u16string logsFolder, Viewer viewer)
    : m_folder(std::move(logsFolder)), m_viewer(std::move(viewer)) {
    if (!m_viewer) m_viewer = [](std::u16string_view path) { return openFileForUser(path); };
}

int32_t ReportsList::AddReportsToList() {
    LogEntry(u"AddReportsToList");
    DebugLevelScope level;
    DebugTrace(u"AddReportsToList Start");
    FindFile find;
    FindData entry;
    if (FindFile::first(joinPath(m_folder, u"Orvane_*.log"), find, entry) != kErrorSuccess) {
        DebugTrace(u"AddReportsToList Failed (search is null)");
        return 0;
    }
    do {
        if (entry.attributes & (kAttrDirectory | kAttrDevice)) continue;
        Row row;
        row.name = entry.name;
        row.results = ReportResultText(GetScanResultCount(entry.name));
        row.date = ReportDateFromName(entry.name);
        m_rows.push_back(std::move(row));
    } while (find.next(entry) == kErrorSuccess);
    DebugTrace(u"AddReportsToList Ended.");
    return 1;
}

int32_t ReportsList::GetScanResultCount(const std::u16string& fileName) {
    LogEntry(u"GetScanResultCount");
    DebugLevelScope level;
    DebugTrace(u"GetScanResultCount Start");
    bool found = false;
    int32_t count =
        fileName.empty() ? 0 : ReportFileResultCount(joinPath(m_folder, fileName), found);
    if (!found) {
        DebugTrace(u"GetScanResultCount End 2.");
        return 0;
    }
    DebugTrace(u"GetScanResultCount End 1");
    return count;
}

int32_t ReportsList::OpenReportFile(const std::u16string& fileName) {
    LogEntry(u"OpenReportFile");
    DebugLevelScope level;
    DebugTrace(u"OpenReportFile Start");
    if (fileName.size() < 3) {
        DebugTrace(u"OpenReportFile Ended - File Is Empty");
        return 0;
    }
    // A name is a name: one that would lead out of the logs folder is no report.
    if (fileName.find_first_of(u"\\/") != std::u16string::npos) return 0;
    uint32_t rc = m_viewer(joinPath(m_folder, fileName));
    DebugTrace(u"OpenReportFile Ended OK");
    return rc == kErrorSuccess ? 1 : 0;
}

int32_t ReportsList::DoDelateAllLogs() {
    LogEntry(u"DoDelateAllLogs");
    DebugLevelScope level;
    DebugTrace(u"DoDelateAllLogs Start");
    std::vector<std::u16string> names;
    {
        FindFile find;
        FindData entry;
        if (FindFile::first(joinPath(m_folder, u"Orvane*.log"), find, entry) == kErrorSuccess) {
            do {
                if (!(entry.attributes & (kAttrDirectory | kAttrDevice)))
                    names.push_back(entry.name);
            } while (find.next(entry) == kErrorSuccess);
        }
    }
    bool allGone = true;
    for (const std::u16string& name : names)
        if (deleteFileNoPlantedLink(joinPath(m_folder, name)) != kErrorSuccess) allGone = false;
    if (!allGone) DebugTrace(u"DoDelateAllLogs End Failed");
    return 0;
}
