#include "app/shell/entry_points.h"

#include "app/shell/app_log.h"

int32_t Settings(QWidget*) {
    LogEntry(u"Settings");
    return 0;
}

int32_t SchduleJob(QWidget*) {
    LogEntry(u"SchduleJob");
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

void CheckForFreeFeedback(QWidget*) { LogEntry(u"CheckForFreeFeedback"); }

int32_t PrepareScheduledJob() {
    LogEntry(u"PrepareScheduledJob");
    return 0;
}

void ScanReportDebugLine(const char16_t*) {}
