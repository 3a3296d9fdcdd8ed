// ov_screenshots DIR [SUFFIX]: renders the main dialog, the About dialog, the
// Real Time Monitor and the timed message dialog to PNG files in DIR
// (main_dialog.png, about.png, realtime.png, genmsg.png; SUFFIX goes before
// ".png"). Run it on the offscreen platform; QT_SCALE_FACTOR=2 renders at
// 200%.
#include <QApplication>
#include <QDir>
#include <QRadioButton>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <cstdio>

#include "app/service_control/realtime_dialog.h"
#include "app/service_control/screenshot_records.h"
#include "app/shell/about_dialog.h"
#include "app/shell/genmsg_dialog.h"
#include "app/shell/main_dialog.h"

namespace {

bool save(QWidget& widget, const QString& folder, const QString& name, const QString& suffix) {
    widget.show();
    QApplication::processEvents();
    const QString file = QDir(folder).filePath(name + suffix + ".png");
    if (!widget.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ov_screenshots DIR [SUFFIX]\n");
        return 2;
    }
    QApplication app(argc, argv);
    if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }

    // A registry of this run's own: the dialogs read it, and the panel's end
    // writes the start-up entry into it.
    QTemporaryDir registryFolder;
    setenv("ORVANE_REGISTRY", qPrintable(registryFolder.filePath("registry.db")), 1);
    ShowcaseRecords();

    MainDialog main;
    // The panel's figures are this machine's, from its first pass.
    WaitForProcessPanel();
    main.setControlText(1088, "Definitions are up to date.");
    main.setControlText(1048, "Threat System Scout");
    main.setControlText(1049, "C:\\usr\\bin");
    main.setControlText(1015, "2417");
    main.setControlText(1021, "");
    main.setInformation("Select a scan type and press Start Scan.");
    if (auto* radio = qobject_cast<QRadioButton*>(main.control(1028))) radio->setChecked(true);
    bool ok = save(main, folder, "main_dialog", suffix);

    AboutDialog about(&main);
    ok = save(about, folder, "about", suffix) && ok;

    RealTimeDialog realTime(&main);
    ok = save(realTime, folder, "realtime", suffix) && ok;

    GenMsgDialog message(u"A new drive was attached: E:\\\nIt will be checked for threats.", &main);
    message.timer().stop();
    ok = save(message, folder, "genmsg", suffix) && ok;
    return ok ? 0 : 1;
}
