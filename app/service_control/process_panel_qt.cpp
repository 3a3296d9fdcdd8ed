// The live panel bound to the main dialog: the scanner's figures are posted
// to the dialog's thread, which writes them into the controls.
#include <QMetaObject>
#include <memory>
#include <mutex>

#include "app/service_control/process_panel.h"
#include "app/shell/app_log.h"
#include "app/shell/entry_points.h"
#include "app/shell/main_dialog.h"
#include "app/shell/startup.h"

namespace {

std::mutex gPanelLock;
ProcessScannerSources gPanelSources;
ProcessPanelCompanions gPanelCompanions;
std::unique_ptr<ProcessScanner> gPanel;

}  // namespace

void SetProcessPanelSources(ProcessScannerSources sources) {
    std::lock_guard<std::mutex> guard(gPanelLock);
    gPanelSources = std::move(sources);
}

void SetProcessPanelCompanions(ProcessPanelCompanions companions) {
    std::lock_guard<std::mutex> guard(gPanelLock);
    gPanelCompanions = std::move(companions);
}

ProcessScanner* ProcessPanel() {
    std::lock_guard<std::mutex> guard(gPanelLock);
    return gPanel.get();
}

void SuspendProcessCounterThread() {
    if (ProcessScanner* scanner = ProcessPanel()) scanner->SuspendProcessCounter();
}

void ResumeProcessCounterThread() {
    if (ProcessScanner* scanner = ProcessPanel()) scanner->ResumeProcessCounter();
}

void InitProcessScanner(QWidget* mainDialog) {
    ProcessScanner* scanner = nullptr;
    {
        std::lock_guard<std::mutex> guard(gPanelLock);
        if (!gPanel) {
            auto* dialog = dynamic_cast<MainDialog*>(mainDialog);
            // The scanner's sink is taken away (ExitProcessScanner) before
            // the dialog goes, so the posted figures always find it.
            PanelSink sink;
            if (dialog != nullptr) {
                sink = [dialog](const std::vector<PanelUpdate>& updates) {
                    QMetaObject::invokeMethod(
                        dialog,
                        [dialog, updates] {
                            for (const auto& [id, text] : updates) {
                                dialog->setControlText(id, QString::fromStdU16String(text));
                            }
                        },
                        Qt::QueuedConnection);
                };
            }
            ProcessScannerSources sources = gPanelSources;
            const bool noneSet = !gPanelCompanions.startScheduledStart &&
                                 !gPanelCompanions.startWebNews &&
                                 !gPanelCompanions.makeDeviceWatcher;
            const ProcessPanelCompanions with =
                noneSet ? ApplicationPanelCompanions() : gPanelCompanions;
            if (with.startScheduledStart && !sources.startScheduledStart) {
                sources.startScheduledStart = [start = with.startScheduledStart, mainDialog] {
                    return start(mainDialog);
                };
            }
            if (with.startWebNews && !sources.startWebNews) {
                sources.startWebNews = [start = with.startWebNews, mainDialog] {
                    return start(mainDialog);
                };
            }
            if (with.makeDeviceWatcher && !sources.makeDeviceWatcher) {
                sources.makeDeviceWatcher = [make = with.makeDeviceWatcher, mainDialog] {
                    return make(mainDialog);
                };
            }
            gPanel = std::make_unique<ProcessScanner>(std::move(sources), std::move(sink));
        }
        scanner = gPanel.get();
    }
    scanner->InitProcessScanner();
}

void ExitProcessScanner() {
    LogEntry(u"ExitProcessScanner");
    std::unique_ptr<ProcessScanner> panel;
    {
        std::lock_guard<std::mutex> guard(gPanelLock);
        panel = std::move(gPanel);
    }
    // The counter thread and the watchers end before the widgets go.
    if (panel) panel->StopThreads();
    panel.reset();
    gShellProcess.singleInstance.release();
    const uint32_t rc = UpdateStartupEntry();
    if (rc != 0) gAppLog.Write(u"ExitProcessScanner: Run key not written, code: %u", rc);
}
