// ov_alert_screenshots DIR [SUFFIX]: renders the alert dialog and its About
// dialog to PNG files in DIR (alert.png, alert_about.png; SUFFIX goes before
// ".png"). Run it on the offscreen platform; QT_SCALE_FACTOR=2 renders at 200%.
#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <cstdio>

#include "alert/alert_about_dialog.h"
#include "alert/alert_dialog.h"
#include "app/shell/prompts.h"

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
        std::fprintf(stderr, "usage: ov_alert_screenshots DIR [SUFFIX]\n");
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

    // A path as the real-time check would hand it over.
    AlertDialog alert(u"C:\\home\\alex\\Downloads\\invoice 2026-11.pdf.exe", "/opt/orvane/bin",
                      prompts());
    bool ok = save(alert, folder, "alert", suffix);

    AlertAboutDialog about;
    ok = save(about, folder, "alert_about", suffix) && ok;
    return ok ? 0 : 1;
}
