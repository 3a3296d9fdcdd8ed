#include "app/shell/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>

#include "app/shell/about_dialog.h"
#include "app/shell/artwork.h"
#include "app/shell/menus.h"
#include "app/shell/prompts.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("ORVANE");
    setWindowTitle("Orvane");
    setWindowIcon(artwork::appIcon());
    BuildMenu109(menuBar(), [this](int id) { onCommand(id, 0); });
}

int MainWindow::onCommand(int id, int) {
    if (id == 104) {
        AboutDialog about(this);
        prompts().execDialog(about);
        return 1;
    }
    if (id == 105) {
        close();
        return 1;
    }
    return 0;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Destroying the main window ends the message loop with exit code 0.
    event->accept();
    QCoreApplication::exit(0);
}
