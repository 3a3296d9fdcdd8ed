// The threat scan's location scanners and the registry location scan: what
// doStartQuickScanRutine runs, and the seams its tests use.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/drivers.h"
#include "platform/process.h"

// ---- Location scanners (location_scanners.cpp, system_scanners.cpp,
// process_scanners.cpp). Each returns at once when the run flag is 0 on
// entry (0, or 1 where the threat scan's table says so).

int32_t DoScanStartupFolders();
int32_t DoScanServices();
int32_t DoScanDrivers();
int32_t DoScanMBRLocation();
int32_t DoScanHiddenProcess();
void ReportHiddenProcess(uint32_t pid);
int32_t DoScanFavoriteLocation();
int32_t DoScanTempFolderLocation();
int32_t DoScanCookiesLocations();
int32_t DoScanRunningProcess();
int32_t DoScanImportentFilesLocs();

// ---- Registry location scan (registry_scan.cpp)

// A new string (1024 units, or the data's length and one if longer) holding
// the program file a registry value's data names, or null when it names none.
std::unique_ptr<char16_t[]> ConvertRegToStr(const char16_t* data);

// ---- Seams. What the threat scan takes from the system where a test needs
// to put something else; resetThreatScanHooks() brings back the system's.

struct ThreatScanHooks {
    // The system's process list that the hidden-process probe compares with
    // (and re-checks a finding against).
    std::function<std::vector<platform::ProcessEntry>()> hiddenProbeList;
    // The process snapshot whose modules the running-process scan checks.
    std::function<std::vector<platform::ProcessEntry>()> runningProcessList;
    // Highest identifier the hidden-process probe tries; 0 = the system's.
    uint32_t highestProcessId = 0;
    // Where the loaded drivers and their files are read from.
    platform::DriverSources driverSources;
    // The favourites table (templates with one %s for the user name, ended by
    // an entry of 2 characters or fewer); null = the fixed one.
    const char16_t* const* favoriteFolders = nullptr;
    // How long the page-file and restore-point steps wait.
    std::chrono::milliseconds idleStepDuration{1500};
};

ThreatScanHooks& threatScanHooks();
void resetThreatScanHooks();
