#include "app/schedule/sched_starter_qt.h"

#include <QMetaObject>
#include <QPointer>
#include <memory>

#include "app/schedule/jobs_folder.h"
#include "app/shell/entry_points.h"
#include "app/shell/main_dialog.h"
#include "app/shell/shell_state.h"

namespace {

struct RunningStarter {
    std::unique_ptr<MainDialogScheduledStart> host;
    std::unique_ptr<SchedStarter> starter;
};

RunningStarter& running() {
    static RunningStarter state;
    return state;
}

}  // namespace

int32_t MainDialogScheduledStart::scanningFlag() { return gShellState.scanning; }
int32_t MainDialogScheduledStart::scheduledStartFlag() { return gShellState.scheduledStart; }
void MainDialogScheduledStart::setScheduledStartFlag(int32_t value) {
    gShellState.scheduledStart = value;
}
int32_t MainDialogScheduledStart::scheduledScanType() { return gShellState.scheduledScanType; }
void MainDialogScheduledStart::setScheduledScanType(int32_t type) {
    gShellState.scheduledScanType = type;
}

void MainDialogScheduledStart::armScheduledStartTimer(int32_t milliseconds) {
    // A timer belongs to the thread of its window: the poll thread only
    // queues the call.
    QPointer<QWidget> target(m_mainDialog);
    if (target.isNull()) return;
    QMetaObject::invokeMethod(
        target.data(),
        [target, milliseconds] {
            if (auto* dialog = dynamic_cast<MainDialog*>(target.data()))
                dialog->armScheduledStartTimer(milliseconds);
        },
        Qt::QueuedConnection);
}

uint32_t MainDialogScheduledStart::mainWindowHandle() {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_mainDialog));
}

void StartSchedStarterThread(QWidget* mainDialog) {
    RunningStarter& state = running();
    if (state.starter) return;
    state.host = std::make_unique<MainDialogScheduledStart>(mainDialog);
    state.starter = std::make_unique<SchedStarter>(*state.host, ApplicationJobsFolder());
    state.starter->Start();
}

void StopSchedStarterThread() {
    RunningStarter& state = running();
    if (state.starter) state.starter->Stop();
    state.starter.reset();
    state.host.reset();
}

SchedStarter* CurrentSchedStarter() { return running().starter.get(); }

int32_t PrepareScheduledJob() {
    RunningStarter& state = running();
    if (state.starter) return state.starter->PrepareScheduledJob();
    // No poll runs (a test drove the timer): read the job the flag stands for.
    MainDialogScheduledStart host(hMainDlg);
    SchedStarter starter(host, ApplicationJobsFolder());
    return starter.PrepareScheduledJob();
}
