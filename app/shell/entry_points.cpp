#include "app/shell/entry_points.h"

#include "app/shell/app_log.h"

int32_t Settings(QWidget*) {
    LogEntry(u"Settings");
    return 0;
}

int32_t RealTime(QWidget*) {
    LogEntry(u"RealTime");
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

int32_t DoOpenExtraOVUrl(int32_t id) {
    gAppLog.Write(u"In DoOpenExtraOVUrl %d", id);
    return 0;
}

void InitProcessScanner(QWidget*) { LogEntry(u"InitProcessScanner"); }

void ExitProcessScanner() { LogEntry(u"ExitProcessScanner"); }

void CheckForFreeFeedback(QWidget*) { LogEntry(u"CheckForFreeFeedback"); }

int32_t PrepareScheduledJob() {
    LogEntry(u"PrepareScheduledJob");
    return 0;
}

int32_t CheckAndSendEmailNotifier(const std::u16string&) {
    LogEntry(u"CheckAndSendEmailNotifier");
    return 0;
}
