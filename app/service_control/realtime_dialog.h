// The Real Time Monitor dialog (143): the service's figures, refreshed every
// 2 seconds, and the box that turns real-time protection off and on.
#pragma once
#include <QDialog>
#include <QTimer>

#include "app/service_control/realtime_monitor.h"

class QCheckBox;

class RealTimeDialog : public QDialog {
public:
    explicit RealTimeDialog(QWidget* parent = nullptr);
    ~RealTimeDialog() override;

    // Commands by control id: 1009 toggles the service, 1, 2 and 1044 close
    // the dialog with the id as result. 1 when handled.
    int onCommand(int id);
    // A timer message with any identifier: restarts the 2-second timer and
    // refreshes the figures.
    void onTimer(int timerId);
    // UpdateOVSharedMemDataEx: 1 when the fields were set.
    int32_t UpdateOVSharedMemDataEx();

    QWidget* control(int id) const;
    QString controlText(int id) const;
    bool refreshTimerActive() const { return m_timer.isActive(); }
    ServiceSwitch& serviceSwitch() { return m_switch; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void onServiceSwitched();

    QTimer m_timer;
    QCheckBox* m_disable = nullptr;
    ServiceSwitch m_switch;
};
