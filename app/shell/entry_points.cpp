#include "app/shell/entry_points.h"

#include "app/settings/web_news_qt.h"
#include "app/shell/app_log.h"

int32_t RealTime(QWidget*) {
    LogEntry(u"RealTime");
    return 0;
}

int32_t SchduleJob(QWidget*) {
    LogEntry(u"SchduleJob");
    return 0;
}

void InitProcessScanner(QWidget* mainDialog) {
    LogEntry(u"InitProcessScanner");
    StartWebNewsThread(mainDialog);
}

void ExitProcessScanner() { LogEntry(u"ExitProcessScanner"); }

int32_t PrepareScheduledJob() {
    LogEntry(u"PrepareScheduledJob");
    return 0;
}

