// The host's systemd service units, read from their unit files (read-only).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

struct SystemdUnit {
    std::string name;         // "ssh.service"
    std::string description;  // Description=, empty when none
    std::string program;      // host path of ExecStart's program; empty when none
    uint32_t startType = 3;   // 2 linked by a .wants/.requires folder, 4 masked, else 3
    bool active = false;      // systemd keeps an invocation of it
};

// The folders searched, highest precedence first ($ORVANE_SYSTEMD_UNIT_PATH
// or the standard ones).
std::vector<std::string> systemdUnitFolders();

// Every listable unit (no aliases, no templates), sorted by name.
std::vector<SystemdUnit> listSystemdUnits();

// One unit by name; false when there is no such listable unit.
bool findSystemdUnit(std::string_view name, SystemdUnit& out);

// The program of one ExecStart= value (prefixes and arguments dropped; a bare
// name looked up in systemd's fixed search path); empty when none.
std::string execStartProgram(std::string_view value);

}  // namespace platform::detail
