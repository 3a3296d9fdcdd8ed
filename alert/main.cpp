// ovfilemsg: shows one infected file, found by the real-time protection, and
// offers to delete it or to open the application. The file's path is all of
// the command line after the program's name; no option is read from it.
#include <QApplication>
#include <QStyleFactory>
#include <string>
#include <vector>

#include "alert/alert_command_line.h"
#include "alert/alert_dialog.h"
#include "alert/alert_window.h"
#include "app/shell/artwork.h"
#include "app/shell/prompts.h"
#include "app/shell/startup.h"
#include "platform/path.h"
#include "platform/privilege.h"

int main(int argc, char** argv) {
    // Taken before Qt sees the command line: Qt would read a path such as
    // "-style x" as its own option.
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const std::u16string path = AlertPathFromArguments(arguments);
    int qtArgc = 1;
    char programName[] = "ovfilemsg";
    char* qtArgv[] = {argc > 0 ? argv[0] : programName, nullptr};

    QApplication app(qtArgc, qtArgv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("ovfilemsg");
    QApplication::setWindowIcon(artwork::appIcon());
    if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);

    AlertMainWindow mainWindow;
    mainWindow.hide();

    // Tried in order up to the first that fails; the alert works without them.
    for (const char16_t* privilege : kStartupPrivileges) {
        if (platform::enablePrivilege(privilege) != 0) break;
    }

    AlertDialog dialog(path, platform::programFolderHost(), prompts());
    dialog.show();
    return app.exec();
}
