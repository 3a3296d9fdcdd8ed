// What a system install adds outside its own root so that a person finds
// Orvane on the desktop: the menu entry, the polkit action that lets the
// menu entry start the application with administrator rights, and the icon.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace setup {

// Where the system's shared entries go. Each folder can be moved with an
// environment variable, so a test writes into a sandbox and never into the
// machine's own /usr/share.
struct SystemFolders {
    std::filesystem::path applications;   // $ORVANE_APPLICATIONS_DIR, /usr/share/applications
    std::filesystem::path polkitActions;  // $ORVANE_POLKIT_ACTIONS_DIR, /usr/share/polkit-1/actions
    std::filesystem::path icons;          // $ORVANE_ICONS_DIR, /usr/share/icons/hicolor
    static SystemFolders fromEnvironment();
};

// The root a system install uses when none is given.
inline constexpr const char* kSystemRoot = "/opt/orvane";

// The polkit action the menu entry asks for.
inline constexpr const char* kPolkitActionId = "org.orvane.app";

// The files an install writes, for the given program folder.
struct SystemEntry {
    std::filesystem::path file;
    std::string content;
};
std::vector<SystemEntry> systemEntries(const SystemFolders& folders,
                                       const std::filesystem::path& programFolder);

// Writes each entry (through a temporary name and a rename) with mode 0644.
// Entries are files of ours, so an existing one is brought up to date.
// false with a message on failure.
bool writeSystemEntries(const std::vector<SystemEntry>& entries, std::string& error);

// Removes the entries; a missing one is not an error. Returns how many were
// removed, or -1 with a message.
int removeSystemEntries(const std::vector<SystemEntry>& entries, std::string& error);

// Gives an installation root its modes: the root and the program folder
// writable by their owner only, the data folders (data, logs, jobs,
// infected) and the registry file readable by their owner only. false with
// a message on failure.
bool restrictInstallModes(const std::filesystem::path& root, const std::filesystem::path& registry,
                          std::string& error);

}  // namespace setup
