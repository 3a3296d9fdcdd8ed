#include "app/shell/commands.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(ShellCommands, TableSaysWhatIsRefusedWhileScanning) {
    const std::set<int32_t> refused = {3, 104, 32787, 1033, 32779, 32790, 32784, 32785};
    for (const ShellCommand& entry : ShellCommandTable()) {
        const bool expectRefused = refused.count(entry.id) != 0;
        EXPECT_EQ(DecideShellCommand(entry.id, 0, true) == CommandOutcome::Refused, expectRefused)
            << entry.id;
        EXPECT_EQ(DecideShellCommand(entry.id, 0, false), CommandOutcome::Run) << entry.id;
    }
}

TEST(ShellCommands, StillAvailableDuringAScan) {
    for (int32_t id : {105, 1005, 32788, 1069, 32778, 1002, 1026, 1028, 1031, 1037, 1035, 32780,
                       1045, 32781, 32783, 32786, 1017, 32771, 32804}) {
        EXPECT_EQ(DecideShellCommand(id, 0, true), CommandOutcome::Run) << id;
    }
}

TEST(ShellCommands, CodeZeroOnlyCommandsIgnoreOtherCodes) {
    const std::set<int32_t> codeZeroOnly = {3,     104,  32787, 105,   1005,  32788, 1069,
                                            32778, 1002, 1026,  1033,  32779, 32790, 1035,
                                            32780, 1045, 32781, 32805, 32806};
    for (const ShellCommand& entry : ShellCommandTable()) {
        const bool expectIgnored = codeZeroOnly.count(entry.id) != 0;
        EXPECT_EQ(DecideShellCommand(entry.id, 1, false) == CommandOutcome::Ignored, expectIgnored)
            << entry.id;
        EXPECT_EQ(entry.codeZeroOnly, expectIgnored) << entry.id;
    }
}

TEST(ShellCommands, ActionsOfEachId) {
    const struct {
        int32_t id;
        ShellAction action;
    } cases[] = {
        {3, ShellAction::About},
        {104, ShellAction::About},
        {32787, ShellAction::About},
        {105, ShellAction::SafeExit},
        {1005, ShellAction::SafeExit},
        {32788, ShellAction::SafeExit},
        {1069, ShellAction::Update},
        {32778, ShellAction::Update},
        {1002, ShellAction::ScanButton},
        {1026, ShellAction::ScanResults},
        {1028, ShellAction::SelectThreatScan},
        {1031, ShellAction::SelectFullScan},
        {1037, ShellAction::SelectCustomScan},
        {1033, ShellAction::Settings},
        {32779, ShellAction::Settings},
        {32790, ShellAction::Settings},
        {1035, ShellAction::RealTime},
        {32780, ShellAction::RealTime},
        {1045, ShellAction::Schedule},
        {32781, ShellAction::Schedule},
        {32783, ShellAction::SysInfo},
        {32784, ShellAction::ThreatManagement},
        {32785, ShellAction::Reports},
        {32786, ShellAction::ShowHideUi},
        {1038, ShellAction::OpenUrl},
        {32800, ShellAction::OpenUrl},
    };
    for (const auto& c : cases) {
        const ShellCommand* entry = FindShellCommand(c.id);
        ASSERT_NE(entry, nullptr) << c.id;
        EXPECT_EQ(entry->action, c.action) << c.id;
    }
}

TEST(ShellCommands, UnknownIdsFallToDefaultProcessing) {
    for (int32_t id : {0, 1, 2, 1000, 1001, 32773, 99999}) {
        EXPECT_EQ(FindShellCommand(id), nullptr) << id;
        EXPECT_EQ(DecideShellCommand(id, 0, false), CommandOutcome::NotHandled) << id;
    }
}

}  // namespace
