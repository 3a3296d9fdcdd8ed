#include "app/results/threat_management.h"

#include <set>

#include "app/shell/app_log.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"

using namespace platform;

namespace {

// Every record name in the folder now.
std::vector<std::u16string> recordNames(const std::u16string& folder) {
    std::vector<std::u16string> names;
    FindFile find;
    FindData entry;
    if (FindFile::first(joinPath(folder, u"*.ovm"), find, entry) != kErrorSuccess) return names;
    do {
        if (!(entry.attributes & (kAttrDirectory | kAttrReparsePoint | kAttrDevice)))
            names.push_back(entry.name);
    } while (find.next(entry) == kErrorSuccess);
    return names;
}

}  // namespace

int32_t ThreatManagement::LoadAllQItems() {
    LogEntry(u"LoadAllQItems");
    m_rows = ListQuarantine(m_folder);
    return 1;
}

int32_t ThreatManagement::DoDeleteInfectedFile() {
    LogEntry(u"DoDeleteInfectedFile");
    m_removed = 0;
    std::set<std::u16string> removed;
    // One pass over the listing: a record that cannot be removed is passed
    // over, never tried again and again, and the rest still go.
    for (const std::u16string& name : recordNames(m_folder)) {
        if (RemoveRecord(m_folder, name) == kErrorSuccess) {
            removed.insert(name);
            ++m_removed;
        }
    }
    for (const QuarantineItem& row : m_rows)
        if (removed.count(row.recordName)) OVDeleteRegKey(row.location.c_str());
    return 1;
}

int32_t ThreatManagement::DoRestoreItem() {
    LogEntry(u"DoRestoreItem");
    m_notRestored.clear();
    m_removed = 0;
    if (m_rows.empty()) return 1;
    std::u16string left;
    for (const std::u16string& name : recordNames(m_folder)) {
        RestoreOutcome outcome = RestoreRecord(m_folder, name);
        if (outcome.code != kErrorSuccess) {
            show(outcome.message);
            m_notRestored.push_back(name);
            left += u"\n" + (outcome.target.empty() ? name : outcome.target);
            continue;
        }
        ++m_removed;
        if (outcome.location.size() > 3)
            OVRestoreRegKey(outcome.location.c_str(), outcome.target.c_str(), m_showError);
    }
    if (!m_notRestored.empty())
        show(u"These items could not be restored and stay in quarantine:" + left);
    return 1;
}
