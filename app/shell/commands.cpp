#include "app/shell/commands.h"

#include <array>

namespace {

using A = ShellAction;

constexpr ShellCommand kTable[] = {
    {3, A::About, true, true},
    {104, A::About, true, true},
    {32787, A::About, true, true},
    {105, A::SafeExit, true, false},
    {1005, A::SafeExit, true, false},
    {32788, A::SafeExit, true, false},
    {1069, A::Update, true, false},
    {32778, A::Update, true, false},
    {1002, A::ScanButton, true, false},
    // The results command refuses during a scan only after it found a report
    // to show, so its refusal is decided by the dialog, not here.
    {1026, A::ScanResults, true, false},
    {1028, A::SelectThreatScan, false, false},
    {1031, A::SelectFullScan, false, false},
    {1037, A::SelectCustomScan, false, false},
    {1033, A::Settings, true, true},
    {32779, A::Settings, true, true},
    {32790, A::Settings, true, true},
    {1035, A::RealTime, true, false},
    {32780, A::RealTime, true, false},
    {1045, A::Schedule, true, false},
    {32781, A::Schedule, true, false},
    {32783, A::SysInfo, false, false},
    {32784, A::ThreatManagement, false, true},
    {32785, A::Reports, false, true},
    {32786, A::ShowHideUi, false, false},
    {1017, A::OpenUrl, false, false},
    {1025, A::OpenUrl, false, false},
    {1038, A::OpenUrl, false, false},
    {1039, A::OpenUrl, false, false},
    {32771, A::OpenUrl, false, false},
    {32772, A::OpenUrl, false, false},
    {32774, A::OpenUrl, false, false},
    {32775, A::OpenUrl, false, false},
    {32776, A::OpenUrl, false, false},
    {32777, A::OpenUrl, false, false},
    {32792, A::OpenUrl, false, false},
    {32798, A::OpenUrl, false, false},
    {32799, A::OpenUrl, false, false},
    {32800, A::OpenUrl, false, false},
    {32804, A::OpenUrl, false, false},
    // Tray popup items that act as their counterparts in menu 109.
    {32807, A::OpenUrl, false, false, 32775},
    {32805, A::RealTime, true, false},
    {32806, A::Update, true, false},
};

}  // namespace

std::span<const ShellCommand> ShellCommandTable() { return kTable; }

const ShellCommand* FindShellCommand(int32_t id) {
    for (const ShellCommand& entry : kTable) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

CommandOutcome DecideShellCommand(int32_t id, int32_t code, bool scanning) {
    const ShellCommand* entry = FindShellCommand(id);
    if (entry == nullptr) return CommandOutcome::NotHandled;
    if (entry->codeZeroOnly && code != 0) return CommandOutcome::Ignored;
    if (entry->refusedWhileScanning && scanning) return CommandOutcome::Refused;
    return CommandOutcome::Run;
}
