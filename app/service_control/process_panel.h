// The desktop application's one live panel: InitProcessScanner and
// ExitProcessScanner (entry_points.h) run it for the main dialog; the scan
// control pauses its counter thread while a scan runs.
#pragma once
#include <functional>
#include <memory>

#include "app/service_control/process_scanner.h"

class QWidget;

// The threads of other parts that start with the panel, each given the main
// dialog: the scheduled-start poll, the news line (started once; false when
// the thread cannot be started) and the device watcher (the new-drive
// watch, made for CatchExt and for Monitoring). Unset ones are skipped (no
// watcher: the monitors stay "Inactive").
struct ProcessPanelCompanions {
    std::function<bool(QWidget* mainDialog)> startScheduledStart;
    std::function<bool(QWidget* mainDialog)> startWebNews;
    std::function<std::unique_ptr<DeviceWatcher>(QWidget* mainDialog)> makeDeviceWatcher;
};
void SetProcessPanelCompanions(ProcessPanelCompanions companions);
// The application's own companions, taken while none is set.
ProcessPanelCompanions ApplicationPanelCompanions();

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
