// The Scan Results list without its window: the rows of the current scan
// report's findings, each with its tick and its "Extra" text, and the four
// actions on them. The dialog binds its list view to this class.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/results/quarantine.h"
#include "app/results/report_text.h"

inline constexpr char16_t kExtraDeleted[] = u"Deleted";
inline constexpr char16_t kExtraQuarantine[] = u"Quarantine";

class ResultsList {
public:
    struct Row {
        ResultRow finding;
        bool checked = false;
        std::u16string extra;  // empty, kExtraDeleted or kExtraQuarantine
    };

    explicit ResultsList(std::u16string quarantineFolder = kQuarantineFolder)
        : m_quarantineFolder(std::move(quarantineFolder)) {}

    // Reads the report (after moving to the program folder, so a relative
    // path is taken from there): a row for every finding line, the summary
    // from its "Scan Finished!" line. 1, or 0 when the report cannot be
    // opened (the rows stay empty; the failure is logged).
    int32_t AddItemToResultToList(const std::u16string& reportPath);

    // Every row's file deleted; the registry value only when the file's
    // deletion failed.
    int32_t DeleteAllObjectsInList();
    // The ticked rows' files deleted, and each one's registry value.
    int32_t DeleteSelectedObjectsInList();
    // The ticked (or every) row's file quarantined, then its registry value
    // deleted.
    int32_t MoveSelectedObjectsInList();
    int32_t MoveAllObjectsInList();

    std::vector<Row>& rows() { return m_rows; }
    const std::vector<Row>& rows() const { return m_rows; }
    // The summary line the report holds (without its line ends); empty when none.
    const std::u16string& reportSummary() const { return m_summary; }

    // What the last action did, row by row (0 or an error code); for the
    // command-line tool, which reports each file.
    const std::vector<uint32_t>& lastCodes() const { return m_codes; }

private:
    void move(bool selectedOnly);

    std::u16string m_quarantineFolder;
    std::vector<Row> m_rows;
    std::u16string m_summary;
    std::vector<uint32_t> m_codes;
};
