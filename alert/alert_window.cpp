#include "alert/alert_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

#include "alert/alert_about_dialog.h"
#include "app/shell/artwork.h"
#include "app/shell/prompts.h"

namespace {

void addCommand(QMenu* menu, const char* text, int id, AlertMainWindow* window) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString("cmd%1").arg(id));
    action->setData(id);
    QObject::connect(action, &QAction::triggered, window,
                     [window, id] { window->onCommand(id, 0); });
}

}  // namespace

AlertMainWindow::AlertMainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("OVFILEMSG");
    setWindowTitle("ovfilemsg");
    setWindowIcon(artwork::appIcon());
    addCommand(menuBar()->addMenu("&File"), "E&xit", 105, this);
    addCommand(menuBar()->addMenu("&Help"), "&About ...", 104, this);

    // Accelerator table 109.
    for (const QKeySequence& keys : {QKeySequence(Qt::ALT | Qt::Key_Question),
                                     QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Question),
                                     QKeySequence(Qt::ALT | Qt::Key_Slash)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setObjectName("accel104");
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { onCommand(104, 1); });
    }
}

int AlertMainWindow::onCommand(int id, int) {
    if (id == 104) {
        AlertAboutDialog about(this);
        prompts().execDialog(about);
        return 1;
    }
    if (id == 105) {
        close();
        return 1;
    }
    return 0;
}

void AlertMainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::exit(0);
}
