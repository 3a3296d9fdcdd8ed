// One scan through the engine library, with a receiver that does for each
// engine message what the application's main window does: counters, report
// lines into the report log, debug lines when the Debug setting is 1.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/scan_request.h"

struct Finding {
    std::u16string path;      // as the engine reports it (Windows form)
    std::u16string type;      // "Malware", "Hidden process"
    std::u16string location;  // registry place; empty when none
    bool hasLocation = false;
};

struct ScanOutcome {
    bool ran = false;          // the engine started its scan thread
    std::u16string setupText;  // the engine's last status text (why it did not run)
    int32_t objects = 0;
    int32_t infected = 0;
    int32_t hiddenProcesses = 0;
    std::vector<Finding> findings;
    std::u16string reportPath;  // Windows form; empty when the log could not be made
    std::string refused;        // why the scan was not started (no report log); empty if it was
    double seconds = 0;
};

struct SessionOutput {
    bool progress = false;  // redraw a progress line on standard error
    bool findings = true;   // print each finding on standard output
};

// Runs one scan: opens the report log with scanTypeText, calls start, then
// writes the closing lines and the footer. request is filled by the caller
// except for hwndNotify.
ScanOutcome RunScan(FnStartOVScan start, ScanRequest& request, const char16_t* scanTypeText,
                    const std::u16string& fullScanDrives, const SessionOutput& output);

// The parts of a report line " Infected Generic %s: %s [%s].", or of a
// hidden-process line; false for any other text.
bool ParseReportLine(std::u16string_view line, Finding& out);
