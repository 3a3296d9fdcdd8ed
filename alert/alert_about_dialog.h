// The alert program's About dialog (103) "About ovfilemsg": its icon, the
// text "ovfilemsg, Version 1.0" and OK (1).
#pragma once
#include <QDialog>

class AlertAboutDialog : public QDialog {
public:
    explicit AlertAboutDialog(QWidget* parent = nullptr);

    // 1 (OK) and 2 (cancel) end the dialog with that id; returns 1 then, else 0.
    int onCommand(int id, int code);
    void reject() override { onCommand(2, 0); }
};
