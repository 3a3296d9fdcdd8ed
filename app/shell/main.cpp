// Orvane: the desktop application. One copy runs at a time; it keeps its log,
// enables the privileges a scan needs, records the installation on first
// start and shows the main dialog until the user exits. The command line is
// not interpreted.
#include <QApplication>
#include <QStyleFactory>
#include <chrono>

#include "app/service_control/service_control.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/main_dialog.h"
#include "app/shell/main_window.h"
#include "app/shell/prompts.h"
#include "app/shell/startup.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    // Another copy holds the mutex: end at once, showing nothing.
    const uint32_t instance = AcquireSingleInstance();
    if (instance == 183) return 0;

    // Relative paths ("..\logs", "..\data") are meant from the program folder.
    (void)platform::setCurrentDirectory(platform::toUtf16(platform::programFolderHost()));

    const std::u16string logName = AppLogFileName(std::chrono::system_clock::now());
    gAppLog.Open(logName.c_str());
    if (instance != 0) {
        gAppLog.Write(u"Single instance lock not available, code: %u", instance);
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("Orvane");
    QApplication::setWindowIcon(artwork::appIcon());
    if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);

    MainWindow mainWindow;
    mainWindow.hide();

    std::u16string missing;
    if (!EnableStartupPrivileges(&missing)) {
        gAppLog.Write(u"EnablePrivilege failed: %s", missing.c_str());
        prompts().messageBox(nullptr, kPrivilegeMessage, kPrivilegeCaption, PromptButtons::Ok,
                             PromptIcon::Information);
        return 0;
    }

    gStartupLog.Open();
    gServiceStartupCheck = RunServiceStartupCheck;
    InitAppRegistry();
    gStartupLog.Close();

    MainDialog dialog;
    dialog.show();
    return app.exec();
}
