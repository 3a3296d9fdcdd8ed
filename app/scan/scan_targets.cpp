#include "app/scan/scan_targets.h"

#include "platform/path.h"
#include "platform/text.h"

std::vector<std::u16string> SplitDriveStrings(std::u16string_view driveStrings) {
    std::vector<std::u16string> roots;
    size_t start = 0;
    while (start < driveStrings.size()) {
        size_t end = driveStrings.find(u'\0', start);
        if (end == std::u16string_view::npos) end = driveStrings.size();
        if (end == start) break;  // the empty string that ends the list
        roots.emplace_back(driveStrings.substr(start, end - start));
        start = end + 1;
    }
    return roots;
}

void FullScanTargets::load() { load(platform::logicalDriveStrings()); }

void FullScanTargets::load(std::u16string_view driveStrings) {
    m_roots = SplitDriveStrings(driveStrings);
    m_checked.assign(m_roots.size(), false);
}

void FullScanTargets::setChecked(size_t index, bool checked) {
    if (index < m_checked.size()) m_checked[index] = checked;
}

bool FullScanTargets::start() {
    m_driveList.clear();
    bool taken = false;
    for (size_t i = 0; i < m_roots.size(); ++i) {
        if (!m_checked[i]) continue;
        // A root that would not fit whole is left out rather than cut.
        if (m_driveList.size() + m_roots[i].size() > kTargetPathUnits) continue;
        m_driveList += m_roots[i];
        taken = true;
    }
    return taken;
}

void CustomScanTargets::chooseFile(const std::u16string& path) {
    m_file.clear();
    m_folder.clear();
    if (path.size() <= kTargetPathUnits) m_file = path;
}

void CustomScanTargets::chooseFolder(const std::u16string& path) {
    m_file.clear();
    m_folder.clear();
    if (path.size() <= kTargetPathUnits) m_folder = path;
}

std::u16string PickedPathToWindows(const std::u16string& picked) {
    if (picked.empty() || picked.front() != u'/') return picked;
    return platform::toWindowsPath(platform::toUtf8(picked));
}

std::u16string FindNewDrive(std::u16string_view before, std::u16string_view after) {
    // A list of no drives is its terminator alone.
    if (after.size() <= before.size() || before.find_first_not_of(u'\0') == before.npos) return {};
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        // The text of the later list from there, up to its next terminator.
        std::u16string_view rest = after.substr(i);
        return std::u16string(rest.substr(0, rest.find(u'\0')));
    }
    return {};
}
