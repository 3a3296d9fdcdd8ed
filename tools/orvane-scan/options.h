// The command line of orvane-scan.
#pragma once
#include <string>
#include <vector>

struct ScanOptions {
    enum class Mode { None, Threat, Full, File, Folder, Paths };
    Mode mode = Mode::None;
    std::string drives;              // --full: as given
    std::vector<std::string> paths;  // --file / --folder: one; positional: one or more
    bool quiet = false;
    bool json = false;
    bool quarantine = false;  // move every finding into quarantine after the scan
    bool help = false;
};

// Parses argv; false with a message in error for a bad command line.
bool ParseScanOptions(int argc, char** argv, ScanOptions& out, std::string& error);

// "C:", "c", "C:\" and lists of them separated by commas, semicolons or
// blanks, to the engine's drive list "C:\D:\". False for anything else.
bool ParseDriveList(const std::string& text, std::u16string& out);

extern const char kUsage[];
