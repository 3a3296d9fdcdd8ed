// The live panel bound to the real main dialog: figures taken on the counter
// thread reach the dialog's controls through its own thread, and the
// dialog's end stops the threads and writes the start-up entry.
#include "app/service_control/process_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <fstream>
#include <thread>

#include "app/service_control/svcctl_sandbox_support.h"
#include "app/shell/main_dialog.h"
#include "common/registry_names.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using svcctltest::Sandbox;

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

TEST(ProcessPanel, FiguresReachTheMainDialogAndItsEndWritesTheStartupEntry) {
    Sandbox sandbox;
    writeText(sandbox.dir() / "proc" / "7" / "maps", "1-2 r--p 0 08:01 1 /usr/bin/a\n");
    writeText(sandbox.dir() / "proc" / "8" / "maps", "1-2 r--p 0 08:01 1 /usr/bin/b\n");
    writeText(sandbox.dir() / "root" / "proc" / "meminfo",
              "MemTotal: 8388608 kB\nMemAvailable: 2097152 kB\n");
    writeText(sandbox.programFolder() / "ovUpdate", "#!/bin/sh\n");
    sandbox.setFlag(names::kStartup, 1);
    ProcessScannerSources sources;
    sources.procRoot = (sandbox.dir() / "proc").string();
    sources.systemRoot = (sandbox.dir() / "root").string();
    sources.interval = std::chrono::milliseconds(20);
    SetProcessPanelSources(sources);
    QWidget* givenTo = nullptr;
    int newsStarts = 0;
    ProcessPanelCompanions companions;
    companions.startWebNews = [&](QWidget* mainDialog) {
        givenTo = mainDialog;
        return ++newsStarts, true;
    };
    SetProcessPanelCompanions(companions);
    {
        MainDialog dialog;
        EXPECT_EQ(givenTo, &dialog);
        EXPECT_EQ(newsStarts, 1);
        ProcessScanner* panel = ProcessPanel();
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(panel->waitForPasses(1, std::chrono::seconds(30)));
        // The figures are posted to the dialog's thread and show once it runs its events.
        for (int i = 0; i < 200 && dialog.controlText(1001) != "2"; ++i) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(dialog.controlText(1001), "2");
        EXPECT_EQ(dialog.controlText(1007), "2");
        EXPECT_EQ(dialog.controlText(1063), "25");
        EXPECT_EQ(dialog.controlText(1065), "8192");
        EXPECT_EQ(dialog.controlText(1055), "Inactive");
        EXPECT_EQ(dialog.controlText(1062), "00:00:00");

        SuspendProcessCounterThread();
        EXPECT_TRUE(panel->counterSuspended());
        ResumeProcessCounterThread();
        EXPECT_FALSE(panel->counterSuspended());
    }
    EXPECT_EQ(ProcessPanel(), nullptr);
    std::u16string value;
    EXPECT_EQ(platform::readString(platform::RegRoot::LocalMachine, kRunKey, kRunValueName, value),
              0u);
    EXPECT_TRUE(fs::exists(sandbox.autostartFolder() / "orvane-run-orvane.desktop"));
    QApplication::processEvents();  // figures posted before the end find nothing to do
    SetProcessPanelSources({});
    SetProcessPanelCompanions({});
}

}  // namespace
