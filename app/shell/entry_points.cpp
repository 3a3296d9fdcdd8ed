#include "app/shell/entry_points.h"

#include "app/schedule/sched_starter_qt.h"
#include "app/shell/app_log.h"

int32_t Settings(QWidget*) {
    LogEntry(u"Settings");
    return 0;
}

int32_t RealTime(QWidget*) {
    LogEntry(u"RealTime");
    return 0;
}

int32_t SysInfo(QWidget*) {
    LogEntry(u"SysInfo");
    return 0;
}

int32_t Infected(QWidget*) {
    LogEntry(u"Infected");
    return 0;
}

int32_t Reports(QWidget*) {
    LogEntry(u"Reports");
    return 0;
}

int32_t ScanResult(QWidget*) {
    LogEntry(u"ScanResult");
    return 0;
}

int32_t DoOpenExtraOVUrl(int32_t id) {
    gAppLog.Write(u"In DoOpenExtraOVUrl %d", id);
    return 0;
}

int32_t DoStartOVScanning() {
    LogEntry(u"DoStartOVScanning");
    return 0;
}

void InitProcessScanner(QWidget* mainDialog) {
    LogEntry(u"InitProcessScanner");
    StartSchedStarterThread(mainDialog);
}

void ExitProcessScanner() {
    LogEntry(u"ExitProcessScanner");
    StopSchedStarterThread();
}

void CheckForFreeFeedback(QWidget*) { LogEntry(u"CheckForFreeFeedback"); }

void ScanReportDebugLine(const char16_t*) {}
