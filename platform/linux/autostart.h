// The Run key of the machine means something on Linux: every value of
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run is reflected into an
// XDG autostart entry, so that the program it names starts at the next
// desktop logon.
//
// The entries go to $ORVANE_AUTOSTART_DIR when it is set, else to the
// system autostart folder /etc/xdg/autostart; a registry named by
// $ORVANE_REGISTRY is a private one (a test's, a tool's) and is reflected
// only into $ORVANE_AUTOSTART_DIR, never into the machine's folder.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform::detail {

// Called by the registry after a value was written or deleted. Values of
// other keys are ignored; a failure to write or remove the entry leaves the
// registry as it is and is reported to the event log (source "Orvane").
void reflectRunValueWritten(RegRoot root, std::u16string_view keyPath, std::u16string_view name,
                            uint32_t type, std::string_view data);
void reflectRunValueDeleted(RegRoot root, std::u16string_view keyPath, std::u16string_view name);

// Deleting a key takes the Run key's values with it when it is the Run key
// or one of its parents: the names are taken before (empty for any other
// key) and their entries removed once the key is gone.
std::vector<std::u16string> runValuesBelow(RegRoot root, std::u16string_view keyPath);
void reflectRunValuesDeleted(RegRoot root, const std::vector<std::u16string>& names);

// The folder entries go to now; empty when none (a private registry without
// $ORVANE_AUTOSTART_DIR).
std::string autostartFolder();

// "orvane-run-<name>.desktop": letters and digits as they are (lower case,
// as value names are case-insensitive), every other unit as "_" and four
// hexadecimal digits, so two value names never share a file.
std::string autostartFileName(std::u16string_view valueName);

// The program and arguments of a Run value's command line: a quoted
// program, else the longest blank-separated start that names a file (with
// or without ".exe"), else the text to the first blank; the rest split at
// blanks with double quotes grouping. Host paths for the program; empty
// when it cannot be named.
std::vector<std::string> runCommandArguments(std::u16string_view commandLine);

// The entry's text for a value, Exec quoted as the desktop entry
// format asks (every argument in double quotes, with '"', '`', '$'
// and '\' escaped, '%' doubled); false when an argument holds a control
// character that an entry cannot carry.
bool autostartEntryText(std::u16string_view valueName, const std::vector<std::string>& argv,
                        std::string& out);

}  // namespace platform::detail
