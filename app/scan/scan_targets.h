// What the two target dialogs decide, without their widgets: the drives of
// a full scan (dialog 137) and the one file or folder of a custom scan
// (dialog 149).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The drive roots of a logical drive string list ("C:\", NUL, "E:\", NUL,
// NUL), in its order.
std::vector<std::u16string> SplitDriveStrings(std::u16string_view driveStrings);

// The full-scan dialog's list: one entry per drive root with its check box.
class FullScanTargets {
public:
    // Fills the list from the platform's logical drive strings, boxes clear.
    void load();
    void load(std::u16string_view driveStrings);

    size_t size() const { return m_roots.size(); }
    const std::u16string& root(size_t index) const { return m_roots[index]; }
    bool checked(size_t index) const { return m_checked[index]; }
    void setChecked(size_t index, bool checked);

    // The start button: the ticked roots one after another ("C:\E:\"),
    // at most 511 units. False, with the list empty, when none is ticked:
    // the dialog then stays open.
    bool start();
    const std::u16string& driveList() const { return m_driveList; }

private:
    std::vector<std::u16string> m_roots;
    std::vector<bool> m_checked;
    std::u16string m_driveList;
};

// The custom-scan dialog's choice: choosing a file or a folder clears both
// first, so at most one is set.
class CustomScanTargets {
public:
    // path is what the picker gave; empty when it was cancelled.
    void chooseFile(const std::u16string& path);
    void chooseFolder(const std::u16string& path);
    const std::u16string& file() const { return m_file; }
    const std::u16string& folder() const { return m_folder; }

private:
    std::u16string m_file;
    std::u16string m_folder;
};

// A picker's answer in the Windows form the engine takes: a host path
// ("/home/a") is converted, a Windows-form path is kept. Empty stays empty.
std::u16string PickedPathToWindows(const std::u16string& picked);

// The longest path a target field holds (512 units with its terminator).
inline constexpr size_t kTargetPathUnits = 511;

// The new-drive watch's comparison of two logical drive string lists taken
// 2 s apart: when the later list is longer and the earlier one not empty,
// the later list's text from the first unit where they differ (the new
// drive's root when one was added); empty when nothing is to be reported.
std::u16string FindNewDrive(std::u16string_view before, std::u16string_view after);
