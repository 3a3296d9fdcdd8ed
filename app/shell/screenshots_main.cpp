// ov_screenshots DIR [SUFFIX]: renders the main dialog, the About dialog and
// the timed message dialog to PNG files in DIR (main_dialog.png, about.png,
// genmsg.png; SUFFIX goes before ".png"), the two scan target dialogs
// (scan_full_dialog.png, scan_custom_dialog.png) and the main dialog in the
// middle of a real scan of a small sandbox tree (scan_running.png), the
// results, threat management and reports dialogs, the settings, system
// information and feedback dialogs (settings.png, sysinfo.png, feedback.png)
// and the Real Time Monitor (realtime.png). Run it on the offscreen
// platform; QT_SCALE_FACTOR=2 renders at 200%.
#include <QApplication>
#include <QDir>
#include <QRadioButton>
#include <QStyleFactory>
#include <QTreeWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "app/scan/custom_scan_dialog.h"
#include "app/scan/full_scan_dialog.h"
#include "app/scan/scan_sandbox_shot.h"
#include "app/results/results_screenshots.h"
#include "app/settings/feedback_dialog.h"
#include "app/settings/settings_dialog.h"
#include "app/settings/sysinfo_dialog.h"
#include "app/service_control/realtime_dialog.h"
#include "app/service_control/screenshot_records.h"
#include "app/shell/about_dialog.h"
#include "app/shell/genmsg_dialog.h"
#include "app/shell/main_dialog.h"
#include "app/shell/scripted_prompts.h"

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

    // Nothing may wait for a person here (the feedback offer of a fresh
    // installation among them): every modal question is answered at once.
    ScriptedPrompts answers;
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

    FullScanDialog full(&main);
    if (full.driveList()->topLevelItemCount() > 0)
        full.driveList()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    ok = save(full, folder, "scan_full_dialog", suffix) && ok;

    ok = RenderScanShots(main,
                         [&](QWidget& widget, const char* name) {
                             return save(widget, folder, name, suffix);
                         }) &&
         ok;
    auto saveResults = [&](QWidget& dialog, const QString& name) {
        return save(dialog, folder, name, suffix);
    };
    ok = RenderResultsDialogs(&main, saveResults) && ok;
    SettingsDialog settings(&main);
    ok = save(settings, folder, "settings", suffix) && ok;

    SysInfoDialog sysinfo(&main);
    ok = save(sysinfo, folder, "sysinfo", suffix) && ok;

    FeedbackDialog feedback(&main);
    feedback.setFields("Alex Doe", "alex@example.org",
                       "The quick scan found what I feared. Thanks!");
    ok = save(feedback, folder, "feedback", suffix) && ok;
    return ok ? 0 : 1;
}
