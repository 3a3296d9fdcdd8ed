#include "app/results/results_list.h"

#include "app/results/record_header.h"
#include "app/results/registry_place.h"
#include "app/results/report_reader.h"
#include "app/scan/report_log.h"
#include "app/shell/app_log.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

using namespace platform;

namespace {

constexpr size_t kMaxLineUnits = 8191;

}  // namespace

int32_t ResultsList::AddItemToResultToList(const std::u16string& reportPath) {
    SetWorkDirToProgramFolder();
    LogEntry(u"AddItemToResultToList");
    m_rows.clear();
    m_summary.clear();
    ReportReader reader;
    uint32_t rc = reportPath.empty() ? kErrorFileNotFound : reader.open(reportPath);
    if (rc != kErrorSuccess) {
        gAppLog.level = LOG_ERROR;
        gAppLog.Write(u"[ERROR] AddItemToResultToList Failed Open Log File: %s (%d)",
                      reportPath.c_str(), static_cast<int>(rc));
        gAppLog.level = LOG_INFO;
        return 0;
    }
    std::string bytes;
    while (reader.nextLine(bytes)) {
        std::u16string line = fromAnsi(bytes);
        if (line.size() > kMaxLineUnits) line.resize(kMaxLineUnits);
        if (std::optional<ResultRow> row = ParseFindingLine(line))
            m_rows.push_back(Row{*row, false, {}});
        if (IsSummaryLine(line)) m_summary = std::u16string(TrimLineEnds(line));
    }
    return 1;
}

int32_t ResultsList::DeleteSelectedObjectsInList() {
    LogEntry(u"DeleteSelectedObjectsInList");
    m_codes.assign(m_rows.size(), kErrorSuccess);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        if (!row.checked) continue;
        m_codes[i] = DeleteUserFile(row.finding.name);
        if (row.finding.location.size() > 2) OVDeleteRegKey(row.finding.location.c_str());
        row.extra = kExtraDeleted;
    }
    return 1;
}

int32_t ResultsList::DeleteAllObjectsInList() {
    LogEntry(u"DeleteAllObjectsInList");
    m_codes.assign(m_rows.size(), kErrorSuccess);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        m_codes[i] = DeleteUserFile(row.finding.name);
        if (m_codes[i] != kErrorSuccess && row.finding.location.size() > 2)
            OVDeleteRegKey(row.finding.location.c_str());
        row.extra = kExtraDeleted;
    }
    return 1;
}

void ResultsList::move(bool selectedOnly) {
    m_codes.assign(m_rows.size(), kErrorSuccess);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        if (selectedOnly && !row.checked) continue;
        row.extra = kExtraQuarantine;
        std::u16string header =
            BuildRecordHeaderText(row.finding.name, row.finding.location, row.finding.type);
        LogEntry(u"OVGenerateQFile");
        m_codes[i] = QuarantineFile(m_quarantineFolder, row.finding.name, header).code;
        if (row.finding.location.size() > 2) OVDeleteRegKey(row.finding.location.c_str());
    }
}

int32_t ResultsList::MoveSelectedObjectsInList() {
    LogEntry(u"MoveSelectedObjectsInList");
    move(true);
    return 1;
}

int32_t ResultsList::MoveAllObjectsInList() {
    LogEntry(u"MoveAllObjectsInList");
    move(false);
    return 1;
}
