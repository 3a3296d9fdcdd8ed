// The scheduled start wired to the application's main dialog: the flags in
// gShellState and timer 31026 of hMainDlg (armed on the user-interface
// thread). The main dialog's background-thread start-up starts the poll,
// its destruction stops it, and its timer handler calls
// PrepareScheduledJob (app/shell/entry_points.h).
#pragma once
#include <cstdint>

#include "app/schedule/sched_starter.h"

class QWidget;

// The main dialog's side of the scheduled start: gShellState's scanning,
// scheduled-start and scan type fields, and MainDialog's timer 31026.
class MainDialogScheduledStart : public ScheduledStartHost {
public:
    explicit MainDialogScheduledStart(QWidget* mainDialog) : m_mainDialog(mainDialog) {}
    int32_t scanningFlag() override;
    int32_t scheduledStartFlag() override;
    void setScheduledStartFlag(int32_t value) override;
    int32_t scheduledScanType() override;
    void setScheduledScanType(int32_t type) override;
    void armScheduledStartTimer(int32_t milliseconds) override;
    uint32_t mainWindowHandle() override;

private:
    QWidget* m_mainDialog;
};

// Starts SchedStarterThread for the main dialog (once; a second call while
// it runs does nothing) and stops and joins it.
void StartSchedStarterThread(QWidget* mainDialog);
void StopSchedStarterThread();
// The poll of this process, or null while none runs; for tests.
SchedStarter* CurrentSchedStarter();
