// The hidden top-level window ("ORVANE", titled "Orvane"): it owns menu 109
// as its class menu and serves two commands, About (104) and Exit (105,
// which destroys it and ends the message loop).
#pragma once
#include <QMainWindow>

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(QWidget* parent = nullptr);

    // 1 when handled, 0 for default processing.
    int onCommand(int id, int code);

protected:
    void closeEvent(QCloseEvent* event) override;
};
