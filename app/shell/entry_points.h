// Dialogs and operations that the main dialog dispatches to, provided by the
// other parts of the application (scan control, results, schedule, service
// control, settings): each is named after its dialog or operation and writes
// its "In ..." line on entry.
#pragma once
#include <cstdint>
#include <string>

class QWidget;

int32_t Settings(QWidget* owner);    // Program Settings, dialog 140
int32_t RealTime(QWidget* owner);    // Real Time Monitor, dialog 143
int32_t SysInfo(QWidget* owner);     // System Information, dialog 159
int32_t Infected(QWidget* owner);    // Threat Management, dialog 141
int32_t Reports(QWidget* owner);     // Reports, dialog 142
// Scan Results, dialog 148: with the scan's summary text at a scan's finish
// (null from the results image) and the report to read (null: the current
// scan report of gShellState).
int32_t ScanResult(QWidget* owner, const char16_t* summary = nullptr,
                   const char16_t* reportPath = nullptr);

// Scan Schedule, dialog 144 (app/schedule).
int32_t ScanSchedule(QWidget* owner);

// Opens the web page behind a command id.
int32_t DoOpenExtraOVUrl(int32_t id);

// The scan button's action, after the scanning flag was flipped (the scan
// control, app/scan/scan_panel_qt.cpp).
int32_t DoStartOVScanning();

// The live system panel and its threads, started when the main dialog is
// made and ended when it is destroyed; the free feedback offer.
void InitProcessScanner(QWidget* mainDialog);
void ExitProcessScanner();
int32_t CheckForFreeFeedback(QWidget* mainDialog);

// Reads the due scheduled job and sets the scan type code in gShellState.
int32_t PrepareScheduledJob();

// Writes a debug line into the current scan report (the scan control).
void ScanReportDebugLine(const char16_t* text);

