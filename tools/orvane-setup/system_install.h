// The system-wide steps of orvane-setup: --system finishes an installation
// for every user of the machine, --uninstall takes it away again.
#pragma once
#include <filesystem>
#include <string>

namespace setup {

// Whether this process may change the system (it runs as root); false with
// the line that says how to run the command.
bool checkAdministrator(const std::string& command, std::string& error);

// After the installation's own steps (folders, programs, registry,
// database): the modes of the root, the menu entry, polkit action and icon,
// the service. Prints what it did; returns the exit code.
int finishSystemInstall(const std::filesystem::path& root, const std::filesystem::path& registry);

// Stops and removes the service and removes the entries; with purge also
// the data folders (quarantine, logs, jobs, hash database) and the registry.
// The program folder is left to whoever put it there. Returns the exit code.
int runUninstall(const std::filesystem::path& root, bool purge);

}  // namespace setup
