// The main dialog's command table: which command ids do what, which need
// notification code 0, and which are refused while a scan runs.
#pragma once
#include <cstdint>
#include <span>

enum class ShellAction {
    About,             // About dialog 106
    SafeExit,          // OVDoSafeExit
    Update,            // DoUpdateRutine
    ScanButton,        // flip the scanning flag, DoStartOVScanning
    ScanResults,       // results of the last scan
    SelectThreatScan,  // radio 1028: clear 1031 and 1037
    SelectFullScan,    // radio 1031: clear 1028 and 1037
    SelectCustomScan,  // radio 1037: clear 1028 and 1031
    Settings,          // Program Settings dialog 140
    RealTime,          // Real Time Monitor dialog 143
    Schedule,          // Scan Schedule dialog 144
    SysInfo,           // System Information dialog 159
    ThreatManagement,  // Threat Management dialog 141
    Reports,           // Reports dialog 142
    ShowHideUi,        // remove the tray icon, show the dialog
    OpenUrl,           // DoOpenExtraOVUrl with the id
};

struct ShellCommand {
    int32_t id;
    ShellAction action;
    bool codeZeroOnly;
    bool refusedWhileScanning;
    // The id handed on to the action (a web page's id); the tray popup's
    // three extra items act as their counterparts of menu 109.
    int32_t dispatchId = 0;
};

// Every handled command of the main dialog.
std::span<const ShellCommand> ShellCommandTable();

// The entry for an id; null for an id the dialog does not handle (default
// processing).
const ShellCommand* FindShellCommand(int32_t id);

enum class CommandOutcome {
    NotHandled,  // default processing
    Ignored,     // a code other than 0 on a code-0-only command: returns 1, does nothing
    Refused,     // "Option not available during scan." into control 1000
    Run,         // perform the action
};

CommandOutcome DecideShellCommand(int32_t id, int32_t code, bool scanning);

inline constexpr char16_t kRefusedDuringScan[] = u"Option not available during scan.";

// Ids of the main dialog and its menus.
namespace cmd {
inline constexpr int32_t kAboutImage = 3;
inline constexpr int32_t kAbout = 104;
inline constexpr int32_t kExit = 105;
inline constexpr int32_t kInformation = 1000;
inline constexpr int32_t kScanButton = 1002;
inline constexpr int32_t kExitImage = 1005;
inline constexpr int32_t kResultsImage = 1026;
inline constexpr int32_t kThreatScout = 1028;
inline constexpr int32_t kFullScout = 1031;
inline constexpr int32_t kCustomScout = 1037;
inline constexpr int32_t kScanTime = 1062;
inline constexpr int32_t kShowHideUi = 32786;
inline constexpr int32_t kTrayAbout = 32787;
inline constexpr int32_t kTrayExit = 32788;
}  // namespace cmd
