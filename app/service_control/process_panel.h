// The desktop application's one live panel: InitProcessScanner and
// ExitProcessScanner (entry_points.h) run it for the main dialog; the scan
// control pauses its counter thread while a scan runs.
#pragma once
#include "app/service_control/process_scanner.h"

// What the panel reads and starts (the device watcher factory, the
// scheduled-start and news threads); taken by the next InitProcessScanner
// that creates the panel. Tests and the program set it before the main
// dialog is made.
void SetProcessPanelSources(ProcessScannerSources sources);

// The panel's scanner; null before the first InitProcessScanner and after
// ExitProcessScanner.
ProcessScanner* ProcessPanel();

// The scan control's pause around a scan (no effect without a panel).
void SuspendProcessCounterThread();
void ResumeProcessCounterThread();
