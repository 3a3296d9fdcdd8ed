// The Threat Management list without its window: the quarantine's records
// as rows, delete of every record and restore of every record. Messages for
// the user go to the error sink (the dialog shows each in an "ERROR" box).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/results/quarantine.h"
#include "app/results/registry_place.h"

class ThreatManagement {
public:
    explicit ThreatManagement(ErrorSink showError = {},
                              std::u16string quarantineFolder = kQuarantineFolder)
        : m_showError(std::move(showError)), m_folder(std::move(quarantineFolder)) {}

    // Fills the rows from the quarantine folder. 1.
    int32_t LoadAllQItems();
    // Removes every record, going on past one that cannot be removed, and
    // deletes the registry value of each row whose record it removed. 1.
    int32_t DoDeleteInfectedFile();
    // Restores every record to its path and its registry value; a record is
    // removed only once its file is back, so one that cannot be restored
    // stays in quarantine (and the user is told which). The registry values
    // of restored files are kept. 1.
    int32_t DoRestoreItem();

    const std::vector<QuarantineItem>& rows() const { return m_rows; }
    // Records the last restore could not bring back (still in quarantine).
    const std::vector<std::u16string>& notRestored() const { return m_notRestored; }
    // Records the last restore (or delete) removed.
    size_t lastRemovedCount() const { return m_removed; }

private:
    void show(const std::u16string& text) const {
        if (m_showError) m_showError(text);
    }

    ErrorSink m_showError;
    std::u16string m_folder;
    std::vector<QuarantineItem> m_rows;
    std::vector<std::u16string> m_notRestored;
    size_t m_removed = 0;
};
