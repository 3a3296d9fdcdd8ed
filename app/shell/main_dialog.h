// The main dialog (129): the application's one permanent window, visible or
// hidden behind the tray icon. Every control keeps its id as its object name
// ("id1000"); commands from the menus, images and buttons all arrive at
// onCommand with their id and notification code.
#pragma once
#include <QDialog>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/shell/counters.h"

class QLineEdit;
class QMenu;
class QRadioButton;

class MainDialog : public QDialog {
public:
    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    // The command handler: 1 when the command was handled (done, ignored
    // or refused), 0 when it falls to default processing.
    int onCommand(int id, int code);

    // The control with an id, or null.
    QWidget* control(int id) const;
    QString controlText(int id) const;
    void setControlText(int id, const QString& text);
    void setInformation(const QString& text) { setControlText(1000, text); }

    // Tray icon 128 with tip "Orvane Anti-Malware"; shown when the dialog
    // is sent to the tray.
    void showTrayIcon();
    void removeTrayIcon();
    bool trayIconShown() const { return m_trayShown; }
    QMenu* trayMenu() const { return m_trayMenu; }
    // The tray icon's callback: the right button opens menu 147 at the
    // cursor; every other click does nothing.
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);

    // The elapsed scan time in control 1062: started when a scan starts,
    // stopped when it ends; one tick a second. tickScanTime is the timer's
    // step, callable by tests.
    void startScanTimerCounter();
    void stopScanTimerCounter();
    bool scanTimerCounterRunning() const { return m_scanTimer.isActive(); }
    void tickScanTime();

    // Timer 31026: armed by the scheduled-start poll; onScheduledStartTimer
    // is its handler.
    void armScheduledStartTimer(int milliseconds = 2000);
    bool scheduledStartTimerArmed() const { return m_schedTimer.isActive(); }
    void onScheduledStartTimer();

    // Closing the dialog hides it behind the tray icon.
    void closeEvent(QCloseEvent* event) override;
    // Escape does not close the main dialog.
    void reject() override {}

private:
    void buildUi();
    void showAbout();
    void showScanResults();
    void selectScanType(int id);

    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    bool m_trayShown = false;
    QTimer m_scanTimer;
    QTimer m_schedTimer;
    ScanTimeCounter m_scanTime;
};

// The main dialog of the process (hMainDlg); null when none exists.
extern MainDialog* hMainDlg;
