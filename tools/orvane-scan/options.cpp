#include "tools/orvane-scan/options.h"

#include <cctype>
#include <string_view>

const char kUsage[] =
    "Usage: orvane-scan [--threat | --full DRIVES | --file PATH | --folder PATH | PATH...]\n"
    "                   [--quiet] [--json] [--quarantine]\n"
    "\n"
    "Scans with the Orvane engine (libov_core.so beside this program) and writes a\n"
    "report log into the installation's logs folder, as the application does.\n"
    "\n"
    "  --threat         Threat System Scout: the system's usual hiding places.\n"
    "  --full DRIVES    Full System Scout of the given drives, e.g. C: or \"C:,D:\".\n"
    "  --file PATH      Custom System Scout of one file.\n"
    "  --folder PATH    Custom System Scout of one folder.\n"
    "  PATH...          A custom scan of each file or folder, one scan and one report\n"
    "                   log per PATH.\n"
    "  --quiet          No progress line and no summary; findings and errors only.\n"
    "  --json           One JSON object per scan on standard output instead of text:\n"
    "                   scanType, target, objects, infected, hiddenProcesses, findings\n"
    "                   (path, hostPath, type, location), report, seconds, exitCode,\n"
    "                   error.\n"
    "  --quarantine     After each scan, move every finding into quarantine (as the\n"
    "                   results list's \"quarantine all\" does; registry values that\n"
    "                   ran it are removed). orvane-quarantine lists and restores.\n"
    "  --help           This text.\n"
    "\n"
    "PATH is a host path (/home/a/x, relative paths allowed) or a Windows-form path\n"
    "(C:\\home\\a\\x). Findings are printed as they are found, each on a line of\n"
    "standard output; a progress line is drawn on standard error when it is a\n"
    "terminal.\n"
    "\n"
    "The engine finds the installation through the registry value Path under\n"
    "HKLM\\SOFTWARE\\Orvane\\Wardline, in the registry file named by ORVANE_REGISTRY\n"
    "(else registry.db in the install root). The setting Debug (1) adds the engine's\n"
    "traces to the report log.\n"
    "\n"
    "Exit status: 0 nothing found, 1 something found, 2 a scan could not run (the\n"
    "reason goes to standard error). With several PATHs: 1 when any scan found\n"
    "something, else 2 when any scan could not run, else 0. Without an installation\n"
    "(no logs folder beside the program folder Path names) no scan runs: 2.\n"
    "SIGINT or SIGTERM stops the scan (the archiver is ended and its folder\n"
    "removed) and ends the program with 128 + the signal's number.\n"
    "\n"
    "Names of files are shown with control characters escaped (<U+001B>) and\n"
    "bytes that are not UTF-8 as <xFF>.\n";

namespace {

bool TakeValue(int argc, char** argv, int& i, std::string& value, std::string& error) {
    if (i + 1 >= argc) {
        error = std::string(argv[i]) + " needs a value";
        return false;
    }
    value = argv[++i];
    return true;
}

bool SetMode(ScanOptions& out, ScanOptions::Mode mode, std::string& error) {
    if (out.mode != ScanOptions::Mode::None && out.mode != mode) {
        error = "choose one of --threat, --full, --file, --folder or PATHs";
        return false;
    }
    if (out.mode == mode && mode != ScanOptions::Mode::Paths) {
        error = "a scan option was given twice";
        return false;
    }
    out.mode = mode;
    return true;
}

}  // namespace

bool ParseScanOptions(int argc, char** argv, ScanOptions& out, std::string& error) {
    bool onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (!onlyPaths && arg == "--") {
            onlyPaths = true;
        } else if (!onlyPaths && (arg == "--help" || arg == "-h")) {
            out.help = true;
        } else if (!onlyPaths && arg == "--quiet") {
            out.quiet = true;
        } else if (!onlyPaths && arg == "--json") {
            out.json = true;
        } else if (!onlyPaths && arg == "--quarantine") {
            out.quarantine = true;
        } else if (!onlyPaths && arg == "--threat") {
            if (!SetMode(out, ScanOptions::Mode::Threat, error)) return false;
        } else if (!onlyPaths && arg == "--full") {
            if (!SetMode(out, ScanOptions::Mode::Full, error)) return false;
            if (!TakeValue(argc, argv, i, out.drives, error)) return false;
        } else if (!onlyPaths && (arg == "--file" || arg == "--folder")) {
            auto mode = arg == "--file" ? ScanOptions::Mode::File : ScanOptions::Mode::Folder;
            if (!SetMode(out, mode, error)) return false;
            std::string value;
            if (!TakeValue(argc, argv, i, value, error)) return false;
            out.paths.push_back(value);
        } else if (!onlyPaths && arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + std::string(arg);
            return false;
        } else {
            if (!SetMode(out, ScanOptions::Mode::Paths, error)) return false;
            out.paths.emplace_back(arg);
        }
    }
    if (!out.help && out.mode == ScanOptions::Mode::None) {
        error = "nothing to scan: give --threat, --full DRIVES, --file, --folder or PATHs";
        return false;
    }
    return true;
}

bool ParseDriveList(const std::string& text, std::u16string& out) {
    out.clear();
    auto separator = [](char c) { return c == ',' || c == ';' || c == ' '; };
    size_t i = 0;
    while (i < text.size()) {
        if (separator(text[i])) {
            ++i;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(text[i]))) return false;
        const char16_t letter =
            static_cast<char16_t>(std::toupper(static_cast<unsigned char>(text[i])));
        ++i;
        bool marked = false;  // a slash ends the drive, so another may follow at once
        if (i < text.size() && text[i] == ':') ++i;
        if (i < text.size() && (text[i] == '\\' || text[i] == '/')) ++i, marked = true;
        if (i < text.size() && !separator(text[i]) && !marked) return false;
        const std::u16string root{letter, u':', u'\\'};
        if (out.find(root) == std::u16string::npos) out += root;
    }
    return !out.empty();
}
