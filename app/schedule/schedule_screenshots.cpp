// ov_schedule_screenshots DIR [SUFFIX]: renders the job editor (job_editor.png)
// and the Scan Schedule dialog with a few jobs (schedule.png) to DIR. Run it
// on the offscreen platform; QT_SCALE_FACTOR=2 renders at 200%.
#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTreeWidget>
#include <cstdio>
#include <fstream>

#include "app/schedule/job_editor_dialog.h"
#include "app/schedule/schedule_dialog.h"
#include "common/job_file.h"
#include "platform/path.h"

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

void writeJob(const QString& folder, int slot, const jobfile::JobFields& job) {
    const std::string path = QDir(folder).filePath(QString("ovjob%1.ovj").arg(slot)).toStdString();
    std::ofstream(path, std::ios::binary) << jobfile::jobFileBytes(job);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ov_schedule_screenshots DIR [SUFFIX]\n");
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
    QTemporaryDir jobs;
    if (!jobs.isValid()) return 1;
    const std::u16string jobsFolder = platform::toWindowsPath(jobs.path().toStdString());

    // Three jobs as a user would have them.
    jobfile::JobFields night;
    night.name = u"Night";
    night.description = u"Night , Daily At: 10:30:00 PM 10:30:00 PM System Shutdown is Disable";
    night.time = u"10:30:00 PM";
    writeJob(jobs.path(), 0, night);
    jobfile::JobFields weekly;
    weekly.name = u"Weekend full scan";
    weekly.description = u"Weekend full scan , Full System Scout  , Weekly At: , Saturday";
    weekly.type = 1035;
    weekly.weekly = true;
    weekly.time = u"9:00:00 AM";
    weekly.days[6] = true;
    writeJob(jobs.path(), 1, weekly);
    jobfile::JobFields lunch;
    lunch.name = u"Lunch break";
    lunch.description = u"Lunch break , Daily At: 12:15:00 PM 12:15:00 PM";
    lunch.type = 1036;
    lunch.time = u"12:15:00 PM";
    writeJob(jobs.path(), 2, lunch);

    SchduleJobDialog editor(jobsFolder);
    editor.dailyPicker()->setTime(QTime(22, 30, 0));
    editor.weeklyPicker()->setTime(QTime(9, 0, 0));
    editor.onCommand(jobedit::kThreatScout);  // the description of the time shown
    bool ok = save(editor, folder, "job_editor", suffix);

    ScanScheduleDialog schedule(jobsFolder);
    schedule.selectJob("ovjob1.ovj");
    ok = save(schedule, folder, "schedule", suffix) && ok;
    return ok ? 0 : 1;
}
