// ExtDevThread for the desktop application: the new-drive watch whose
// announcements open the timed message dialog (150), modal and owned by the
// main dialog, on the user-interface thread while the watch waits.
#pragma once
#include <QObject>
#include <chrono>

#include "app/scan/drive_watch.h"
#include "app/scan/ui_caller.h"

class QWidget;

class NewDriveWatch : public QObject {
public:
    // driveStrings, when given, replaces the platform's logical drive
    // strings (tests change the drive map at a known moment).
    explicit NewDriveWatch(QWidget* owner,
                           std::chrono::milliseconds interval = std::chrono::milliseconds(2000),
                           std::function<std::u16string()> driveStrings = {});
    // Closes nothing the user still reads, releases the watch and joins it.
    ~NewDriveWatch() override;

    bool start() { return m_watch.start(); }
    bool running() const { return m_watch.running(); }

private:
    QWidget* m_owner;
    UiCaller m_ui;
    DriveWatch m_watch;
};

// Starts a watch owned by (and ending with) the owner; null when its thread
// cannot be started.
NewDriveWatch* ExtDevThread(QWidget* owner);
