#include "app/shell/entry_points.h"

#include "app/settings/web_news_qt.h"
#include "app/schedule/sched_starter_qt.h"
#include "app/shell/app_log.h"

int32_t RealTime(QWidget*) {
    LogEntry(u"RealTime");
    return 0;
}

void InitProcessScanner(QWidget* mainDialog) {
    LogEntry(u"InitProcessScanner");
    StartWebNewsThread(mainDialog);
    StartSchedStarterThread(mainDialog);
}

void ExitProcessScanner() {
    LogEntry(u"ExitProcessScanner");
    StopSchedStarterThread();
}

