// The scan side of the main dialog: the scan button's start and stop
// (DoStartOVScanning), the scan-end poll (SCAN_POLL_TIMER), the finish
// (SCANMSG_SCAN_FINISHED) and the display of the running scan's figures,
// which are read from the ScanProgress at a steady rate on the user-
// interface thread. One per main dialog, made on first use.
#pragma once
#include <QObject>
#include <QTimer>
#include <chrono>
#include <string>

#include "app/scan/scan_control.h"
#include "app/scan/scan_progress.h"
#include "app/scan/ui_caller.h"

class MainDialog;

inline constexpr char16_t kStoppingText[] = u"Stopping the scan, please wait...";

class ScanPanel : public QObject {
public:
    explicit ScanPanel(MainDialog* dialog);
    // Stops a running scan and waits for its threads; no dialog stays open
    // for them.
    ~ScanPanel() override;

    // The scan button's action once the scanning flag was flipped.
    int32_t startOrStop();
    // The poll timer's tick and the finish it leads to.
    void onPollTimer();
    void onScanFinished();
    // Shows the figures the scan has reported so far.
    void refresh();

    ScanControl& control() { return m_control; }
    ScanProgress& progress() { return m_progress; }
    bool pollArmed() const { return m_poll.isActive(); }
    void setRefreshInterval(std::chrono::milliseconds interval);
    // The text of the last finish ("Scan Finished!, ..."); empty before.
    const std::u16string& lastFinishText() const { return m_finishText; }
    int32_t finishedScans() const { return m_finishedScans; }

private:
    ScanKind selectedKind() const;
    void showStopPicture(bool stop);

    MainDialog* m_dialog;
    ScanProgress m_progress;
    UiCaller m_ui;
    ScanControl m_control;
    QTimer m_poll;
    QTimer m_refresh;
    uint64_t m_shownVersion = ~uint64_t(0);
    std::u16string m_shownInformation;
    std::u16string m_finishText;
    int32_t m_finishedScans = 0;
};

// The scan panel of a main dialog, made when first asked for.
ScanPanel* ScanPanelOf(MainDialog* dialog);

// Brings the main dialog to the front (a scheduled scan starts unasked).
void SetOVWindowInFront();
