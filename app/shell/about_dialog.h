// The About dialog (106): the product's name and version, the social media
// links 1017, 1025, 1038, 1039, the web link 1004 and the close image 1.
#pragma once
#include <QDialog>

class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // 1 or 2 end the dialog with that id; 1004 and the links open their web
    // page. Returns 1 when the dialog ended, else 0.
    int onCommand(int id, int code);
    // Escape is command 2.
    void reject() override { onCommand(2, 0); }
};
