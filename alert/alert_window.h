// The alert program's hidden main window ("OVFILEMSG", titled "ovfilemsg")
// with menu 109: "&File" > "E&xit" (105) and "&Help" > "&About ..." (104).
// The accelerators Alt+? and Alt+/ give 104 whichever of the program's
// windows is active, as the message loop translates them for all of them.
#pragma once
#include <QMainWindow>

class AlertMainWindow : public QMainWindow {
public:
    explicit AlertMainWindow(QWidget* parent = nullptr);

    // 104 opens the About dialog modally (through Prompts), 105 destroys the
    // window, which ends the program. 1 when handled, else 0.
    int onCommand(int id, int code);

protected:
    void closeEvent(QCloseEvent* event) override;
};
