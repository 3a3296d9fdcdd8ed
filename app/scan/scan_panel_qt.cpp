#include "app/scan/scan_panel_qt.h"

#include <QAbstractButton>
#include <QRadioButton>

#include "app/scan/browser_closer.h"
#include "app/scan/custom_scan_dialog.h"
#include "app/scan/full_scan_dialog.h"
#include "app/service_control/process_panel.h"
#include "app/settings/online_requests.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/commands.h"
#include "app/shell/entry_points.h"
#include "app/shell/image_button.h"
#include "app/shell/main_dialog.h"
#include "app/shell/prompts.h"
#include "app/shell/shell_frame.h"
#include "app/shell/shell_state.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/text.h"

namespace {

constexpr char16_t kSelectScanType[] = u"Please Select Scan Type...";
constexpr char16_t kScanFailed[] = u"SCAN FAILED!";
constexpr char16_t kAbortText[] = u"Are you sure you want to stop the scan?";
constexpr char16_t kAbortCaption[] = u"Abort Scanning...";
constexpr char16_t kCloseBrowsersText[] = u"Are you sure you want to close all open browsers?";
constexpr char16_t kCloseBrowsersCaption[] = u"Orvane - Close Browsers...";
constexpr char16_t kFinishFormat[] = u"Scan Finished!, %d Object Scanned, %d Infected Found.";
constexpr auto kRefreshInterval = std::chrono::milliseconds(100);

void WriteAppLog(const std::u16string& line) { gAppLog.Write(u"%s", line.c_str()); }

bool SettingIsOne(const char16_t* name) {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    return GetRegValue(names::kSettingsKey, name, &value, &size) == 0 && value == 1;
}

ScanPanel* gActivePanel = nullptr;

}  // namespace

ScanPanel::ScanPanel(MainDialog* dialog)
    : QObject(dialog),
      m_dialog(dialog),
      m_ui([this](std::function<void()> work) {
          QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
      }),
      m_control(m_progress, m_ui,
                ScanTargetDialogs{
                    [this](std::u16string& drives) { return OVFullScanProc(m_dialog, drives); },
                    [this](std::u16string& file, std::u16string& folder) {
                        return OVCustomScanProc(m_dialog, file, folder);
                    }},
                WriteAppLog) {
    setObjectName("scanPanel");
    gActivePanel = this;
    m_poll.setSingleShot(true);
    connect(&m_poll, &QTimer::timeout, this, [this] { onPollTimer(); });
    m_refresh.setInterval(kRefreshInterval);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        m_control.repeatPendingStop();
        refresh();
    });
}

ScanPanel::~ScanPanel() {
    // A worker waiting for a target dialog is let go before the threads
    // are joined by the control's destructor.
    m_ui.cancel();
    if (gActivePanel == this) gActivePanel = nullptr;
}

void ScanPanel::setRefreshInterval(std::chrono::milliseconds interval) {
    m_refresh.setInterval(static_cast<int>(interval.count()));
}

ScanKind ScanPanel::selectedKind() const {
    auto checked = [this](int id) {
        auto* radio = qobject_cast<QRadioButton*>(m_dialog->control(id));
        return radio != nullptr && radio->isChecked();
    };
    if (checked(cmd::kThreatScout)) return ScanKind::Threat;
    if (checked(cmd::kFullScout)) return ScanKind::Full;
    if (checked(cmd::kCustomScout)) return ScanKind::Custom;
    return ScanKind::None;
}

void ScanPanel::showStopPicture(bool stop) {
    if (auto* button = dynamic_cast<ImageButton*>(m_dialog->control(cmd::kScanButton))) {
        button->setArt(stop ? artwork::kScanStop : artwork::kScanStart);
        button->setToolTip(stop ? "Stop the scan" : "Start or stop a scan");
    }
}

int32_t ScanPanel::startOrStop() {
    // A scan that was told to stop holds the engine until its threads have
    // ended: no click starts another or asks again meanwhile.
    if (m_control.phase() == ScanPhase::Stopping) {
        gShellState.scanning = 1;
        m_dialog->setInformation(QString::fromStdU16String(kStoppingText));
        return 0;
    }
    if (gShellState.scanning == 1) {
        if (m_control.phase() != ScanPhase::Idle) {  // the scan runs on
            return 0;
        }
        const ScanKind kind = selectedKind();
        if (kind == ScanKind::None) {
            m_dialog->setInformation(QString::fromStdU16String(kSelectScanType));
            gShellState.scanning = 0;
            return 0;
        }
        if (SettingIsOne(names::kCloseBrowsers) &&
            prompts().messageBox(m_dialog, kCloseBrowsersText, kCloseBrowsersCaption,
                                 PromptButtons::YesNo, PromptIcon::Question) == kAnswerYes) {
            DoCloseAllWebBrowsers(WriteAppLog);
        }
        const bool scheduled = gShellState.scheduledStart == 1;
        if (scheduled) SetOVWindowInFront();
        // The live panel's counter rests while the scan runs.
        SuspendProcessCounterThread();
        if (!m_control.start(kind, scheduled)) {
            ResumeProcessCounterThread();
            m_dialog->setInformation(QString::fromStdU16String(kScanFailed));
            gShellState.scanning = 0;
            return 0;
        }
        m_shownVersion = ~uint64_t(0);
        m_shownInformation.clear();
        refresh();
        showStopPicture(true);
        EnableScanButtonState(0);
        m_poll.start(static_cast<int>(m_control.timings().firstPoll.count()));
        m_dialog->setControlText(cmd::kScanTime, "00:00:00");
        ScanTimerCounterThread();
        m_refresh.start();
        return 0;
    }

    if (m_control.phase() == ScanPhase::Idle) return 0;  // nothing to stop
    if (prompts().messageBox(m_dialog, kAbortText, kAbortCaption, PromptButtons::YesNo,
                             PromptIcon::Question) != kAnswerYes) {
        gShellState.scanning = 1;
        return 0;
    }
    // The scan counts as under way until its threads have ended and the
    // finish was handled, so commands refused during a scan stay refused.
    gShellState.scanning = 1;
    m_control.requestStop();
    if (QWidget* button = m_dialog->control(cmd::kScanButton)) {
        button->setEnabled(false);
        button->setToolTip(QString::fromStdU16String(kStoppingText));
    }
    m_dialog->setInformation(QString::fromStdU16String(kStoppingText));
    m_shownInformation = kStoppingText;
    return 0;
}

void ScanPanel::onPollTimer() {
    const auto next = m_control.poll();
    if (next.count() > 0) {
        m_poll.start(static_cast<int>(next.count()));
        return;
    }
    onScanFinished();
}

void ScanPanel::refresh() {
    const ScanFields fields = m_progress.snapshot();
    if (fields.version == m_shownVersion) return;
    m_shownVersion = fields.version;
    m_dialog->setControlText(1015, QString::number(fields.objects));
    m_dialog->setControlText(1019, QString::number(fields.infected));
    m_dialog->setControlText(1051, QString::number(fields.hiddenProcesses));
    m_dialog->setControlText(1021, QString::fromStdU16String(fields.threatType));
    m_dialog->setControlText(1048, QString::fromStdU16String(fields.scanType));
    m_dialog->setControlText(1049, QString::fromStdU16String(fields.location));
    m_dialog->setControlText(1053, QString::fromStdU16String(fields.hiddenName));
    if (!fields.information.empty() && fields.information != m_shownInformation) {
        m_shownInformation = fields.information;
        m_dialog->setInformation(QString::fromStdU16String(fields.information));
    }
}

void ScanPanel::onScanFinished() {
    m_refresh.stop();
    refresh();
    if (m_progress.debugSetting()) {
        m_progress.writeReportLine(u"Scan Ended\n", true);
        gAppLog.Write(u"Scan Ended");
    }
    ResumeProcessCounterThread();
    const ScanFields fields = m_progress.snapshot();
    const auto objects = static_cast<int32_t>(fields.objects);
    const auto infected = static_cast<int32_t>(fields.infected);
    m_finishText = platform::format16(kFinishFormat, objects, infected);
    m_progress.writeReportLine(m_finishText.c_str(), true);
    m_progress.writeReportFooter(objects, infected);
    const std::u16string reportPath = m_progress.reportLogPath();
    if (!reportPath.empty()) gShellState.setScanReportPath(reportPath);

    ScanResult(m_dialog, m_finishText.c_str(), reportPath.empty() ? nullptr : reportPath.c_str());

    EnableScanButtonState(1);
    showStopPicture(false);
    InitProcessScanner(m_dialog);
    gShellState.scanning = 0;
    m_dialog->setInformation(QString::fromStdU16String(m_finishText));
    StopScanTimerCounterThread();
    if (infected != 0) CheckAndSendEmailNotifier(m_finishText.c_str());
    gShellState.scheduledStart = 0;
    m_control.finished();
    ++m_finishedScans;
}

ScanPanel* ScanPanelOf(MainDialog* dialog) {
    if (dialog == nullptr) return nullptr;
    if (auto* panel = dialog->findChild<ScanPanel*>("scanPanel", Qt::FindDirectChildrenOnly))
        return panel;
    return new ScanPanel(dialog);
}

int32_t DoStartOVScanning() {
    LogEntry(u"DoStartOVScanning");
    if (ScanPanel* panel = ScanPanelOf(hMainDlg)) panel->startOrStop();
    return 0;
}

void SetOVWindowInFront() {
    LogEntry(u"SetOVWindowInFront");
    if (hMainDlg == nullptr) return;
    hMainDlg->setEnabled(true);
    hMainDlg->showNormal();
    hMainDlg->raise();
    hMainDlg->activateWindow();
}

void ScanReportDebugLine(const char16_t* text) {
    // Through the panel's lock while a scan may be writing; else directly.
    if (gActivePanel != nullptr) {
        gActivePanel->progress().writeReportLine(text, true);
    } else {
        WriteReportLine(text, 1);
    }
}
