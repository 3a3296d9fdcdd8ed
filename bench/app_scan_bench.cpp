// ov_app_scan_bench FOLDER [ROUNDS]: the desktop application's scan path,
// timed. Each round runs a custom scan of FOLDER through the main dialog
// (offscreen, scripted prompts, the real engine loaded from this program's
// folder, the installation named by ORVANE_REGISTRY) and prints one line:
//
//   round N: engine-done S s, finished S s, worst UI stall MS ms, objects K
//
// "engine-done" is the click to the scan worker's end (the engine has
// returned), "finished" the click to the handled finish with the poll
// intervals of the application. The stall is the worst lateness of a 10 ms
// timer on the user-interface thread during the scan.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/scan/custom_scan_dialog.h"
#include "app/scan/scan_panel_qt.h"
#include "app/shell/commands.h"
#include "app/shell/main_dialog.h"
#include "app/shell/scripted_prompts.h"
#include "app/shell/shell_state.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ov_app_scan_bench FOLDER [ROUNDS]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 1;

    ScriptedPrompts prompts;
    MainDialog dialog;
    dialog.show();
    ScanPanel* panel = ScanPanelOf(&dialog);
    dialog.onCommand(cmd::kCustomScout, 0);

    for (int round = 1; round <= rounds; ++round) {
        prompts.clear();
        prompts.queueDialogHandler([&](QDialog& d) {
            auto& custom = static_cast<CustomScanDialog&>(d);
            prompts.queuePath(folder.toStdU16String());
            custom.onCommand(1056);
            custom.onCommand(1026);
            return custom.result();
        });
        const int before = panel->finishedScans();
        QElapsedTimer clock;
        qint64 engineDone = -1;
        qint64 worstStall = 0;
        qint64 lastTick = 0;
        QTimer stallProbe;
        stallProbe.setTimerType(Qt::PreciseTimer);
        stallProbe.setInterval(10);
        QObject::connect(&stallProbe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worstStall = std::max(worstStall, now - lastTick - 10'000'000);
            lastTick = now;
            if (engineDone < 0 && !panel->control().workerRunning() &&
                panel->control().phase() != ScanPhase::Idle)
                engineDone = now;
            if (panel->finishedScans() > before) app.quit();
        });
        QTimer::singleShot(0, [&] {
            clock.start();
            lastTick = 0;
            stallProbe.start();
            dialog.onCommand(cmd::kScanButton, 0);
        });
        app.exec();
        stallProbe.stop();
        const qint64 finished = clock.nsecsElapsed();
        if (engineDone < 0) engineDone = finished;
        std::printf(
            "round %d: engine-done %.3f s, finished %.3f s, worst UI stall %.1f ms, "
            "objects %u\n",
            round, engineDone / 1e9, finished / 1e9, worstStall / 1e6,
            panel->progress().snapshot().objects);
        std::fflush(stdout);
    }
    return 0;
}
