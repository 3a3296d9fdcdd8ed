#include "app/shell/shell_frame.h"

#include <QCoreApplication>
#include <cstdlib>

#include "app/shell/app_log.h"
#include "app/shell/main_dialog.h"
#include "app/shell/startup.h"

int32_t OVSendToTray() {
    LogEntry(u"OVSendToTray");
    if (hMainDlg != nullptr) {
        hMainDlg->showTrayIcon();
        hMainDlg->hide();
    }
    return 0;
}

int32_t OVDoSafeExit() {
    LogEntry(u"OVDoSafeExit");
    if (hMainDlg != nullptr) hMainDlg->removeTrayIcon();
    QCoreApplication::exit(0);
    return 1;
}

int32_t DoUpdateRutine() {
    LogEntry(u"DoUpdateRutine");
    const uint32_t status = StartUpdaterProgram();
    if (status != 0) {
        gAppLog.Write(u"DoUpdateRutine: cannot start ovUpdate, code: %u", status);
        if (hMainDlg != nullptr) hMainDlg->setInformation("Error Start The Update Progress...");
        return 0;
    }
    if (hMainDlg != nullptr) hMainDlg->setInformation("Update Progress Done!");
    // Let the updater start a new copy of the application.
    gShellProcess.singleInstance.release();
    if (gShellProcess.exitProcess) {
        gShellProcess.exitProcess(0);
        return 1;
    }
    // The updater runs on by itself: end now, without tearing anything down.
    std::_Exit(0);
}

int32_t EnableScanButtonState(int32_t enable) {
    LogEntry(u"EnableScanButtonState");
    if (hMainDlg == nullptr) return enable;
    for (int id : {1033, 1035, 1008, 1045, 1067, 1066, 1068, 1026, 1028, 1031, 1037}) {
        if (QWidget* control = hMainDlg->control(id)) control->setEnabled(enable != 0);
    }
    for (int id : {1002, 3}) {
        if (QWidget* control = hMainDlg->control(id)) control->setEnabled(true);
    }
    return enable;
}

int32_t ScanTimerCounterThread(void*) {
    if (hMainDlg != nullptr) {
        hMainDlg->startScanTimerCounter();
    } else {
        LogEntry(u"ScanTimerCounterThread");
    }
    return 0;
}

void StopScanTimerCounterThread() {
    if (hMainDlg != nullptr) hMainDlg->stopScanTimerCounter();
}
