#include "app/shell/main_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTimer>

#include "app/scan/app_sandbox_support.h"
#include "app/scan/scan_panel_qt.h"
#include "app/shell/about_dialog.h"
#include "app/shell/app_log.h"
#include "app/shell/commands.h"
#include "app/shell/scripted_prompts.h"
#include "app/shell/shell_frame.h"
#include "app/shell/shell_state.h"
#include "app/shell/shell_test_support.h"
#include "app/shell/startup.h"
#include "platform/registry.h"

namespace {

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        gShellState.Reset();
        gAppLog.Reset();
        setenv("ORVANE_REGISTRY", (folder.path() / "registry.db").c_str(), 1);
        platform::resetRegistryConnection();
        logPath = folder.path() / "app.log";
        const std::u16string name = folder.windows("app.log");
        ASSERT_EQ(gAppLog.Open(name.c_str()), 0);
        dialog = std::make_unique<MainDialog>();
        dialog->show();
    }
    void TearDown() override {
        dialog.reset();
        gShellState.Reset();
        gAppLog.Reset();
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
    }

    QRadioButton* radio(int id) { return qobject_cast<QRadioButton*>(dialog->control(id)); }
    std::string log() { return readBytes(logPath); }
    bool logHas(const std::u16string& text) {
        return log().find(utf16le(text)) != std::string::npos;
    }

    TempFolder folder;
    std::filesystem::path logPath;
    ScriptedPrompts prompts;
    std::unique_ptr<MainDialog> dialog;
};

TEST_F(MainDialogTest, HasEveryControlUnderItsId) {
    EXPECT_EQ(hMainDlg, dialog.get());
    EXPECT_EQ(dialog->objectName(), "dialog129");
    const int fields[] = {1000, 1001, 1007, 1015, 1019, 1021, 1048, 1049, 1051,
                          1053, 1055, 1057, 1059, 1061, 1063, 1065, 1062, 1088};
    for (int id : fields) {
        auto* edit = qobject_cast<QLineEdit*>(dialog->control(id));
        ASSERT_NE(edit, nullptr) << id;
        EXPECT_TRUE(edit->isReadOnly()) << id;
    }
    for (int id : {1028, 1031, 1037}) EXPECT_NE(radio(id), nullptr) << id;
    for (int id : {1002, 1026, 1033, 1035, 1045, 1069, 1005, 3, 1017, 1025, 1038, 1039}) {
        EXPECT_NE(qobject_cast<QAbstractButton*>(dialog->control(id)), nullptr) << id;
    }
    EXPECT_EQ(radio(1028)->text(), "Threat Scout");
    EXPECT_EQ(radio(1031)->text(), "Full System Scout");
    EXPECT_EQ(radio(1037)->text(), "Custom Scout");
    EXPECT_EQ(dialog->controlText(1062), "00:00:00");
}

TEST_F(MainDialogTest, MenusCarryTheirTextsAndCommandIds) {
    const std::pair<int, const char*> menu109[] = {
        {105, "E&xit"},
        {32785, "Reports"},
        {32784, "Threat Management..."},
        {32780, "Real Time Protection..."},
        {32781, "Scan Schedule..."},
        {32783, "System Info"},
        {32779, "Program Settings..."},
        {32778, "Check For Updates..."},
        {32799, "4 Webmasters."},
        {32800, "Apps for Business (USA/CA Only). "},
        {104, "&About ..."},
        {32772, "Online Help"},
        {32771, "Our Community"},
        {32777, "Our Free Tools"},
        {32775, "Send Feedback"},
        {32804, "Report a problem"},
        {32792, "Affiliates Join Here "},
        {32776, "Submit Malware Sample "},
        {32774, "CyberSecurity Newsletter"},
        {32798, "Tell a Friend"},
    };
    auto* bar = dialog->findChild<QMenuBar*>("menu109");
    ASSERT_NE(bar, nullptr);
    for (const auto& [id, text] : menu109) {
        auto* action = bar->findChild<QAction*>(QString("cmd%1").arg(id));
        ASSERT_NE(action, nullptr) << id;
        EXPECT_EQ(action->text(), text) << id;
        EXPECT_EQ(action->data().toInt(), id);
    }
    QStringList tops;
    for (QAction* action : bar->actions()) tops << action->text();
    EXPECT_EQ(tops, QStringList({"&File", "Options", "Update", "Special Offers", "&Help"}));

    QStringList popup;
    for (QAction* action : dialog->trayMenu()->actions()) {
        popup << (action->isSeparator() ? QString("-")
                                        : action->text() + "=" + action->data().toString());
    }
    EXPECT_EQ(popup, QStringList({"Send Feedback=32807", "Show/Hide UI=32786",
                                  "Enable - Real Time Protection=32805", "-", "Start Update=32806",
                                  "Settings...=32790", "-", "About=32787", "Exit=32788"}));
}

TEST_F(MainDialogTest, RadioButtonsStayExclusiveAfterClicks) {
    for (int id : {1028, 1031, 1037, 1037, 1028, 1031, 1028}) {
        radio(id)->click();
        for (int other : {1028, 1031, 1037}) {
            EXPECT_EQ(radio(other)->isChecked(), other == id) << id << " " << other;
        }
    }
    // The commands themselves clear the other two.
    dialog->onCommand(1037, 0);
    EXPECT_TRUE(radio(1037)->isChecked());
    EXPECT_FALSE(radio(1028)->isChecked());
    EXPECT_FALSE(radio(1031)->isChecked());
}

TEST_F(MainDialogTest, CloseBoxHidesToTrayAndShowHideBringsItBack) {
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->trayIconShown());
    EXPECT_TRUE(logHas(u"[INFO] In OVSendToTray\n"));

    // Left clicks and double clicks on the icon do nothing.
    dialog->onTrayActivated(QSystemTrayIcon::Trigger);
    dialog->onTrayActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->trayMenu()->isVisible());
    // The right button opens the popup menu.
    dialog->onTrayActivated(QSystemTrayIcon::Context);
    EXPECT_TRUE(dialog->trayMenu()->isVisible());
    dialog->trayMenu()->hide();

    dialog->trayMenu()->findChild<QAction*>("cmd32786")->trigger();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->trayIconShown());

    // "Show/Hide UI" while visible removes the icon and leaves the dialog up.
    OVSendToTray();
    dialog->show();
    EXPECT_EQ(dialog->onCommand(cmd::kShowHideUi, 0), 1);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->trayIconShown());
}

TEST_F(MainDialogTest, ExitRemovesTheTrayIconAndEndsTheMessageLoop) {
    for (int id : {105, 1005, 32788}) {
        OVSendToTray();
        ASSERT_TRUE(dialog->trayIconShown());
        QTimer::singleShot(0, dialog.get(), [this, id] { dialog->onCommand(id, 0); });
        EXPECT_EQ(QApplication::exec(), 0) << id;
        EXPECT_FALSE(dialog->trayIconShown()) << id;
    }
    EXPECT_TRUE(logHas(u"In OVDoSafeExit\n"));
}

TEST_F(MainDialogTest, EscapeDoesNotCloseTheMainDialog) {
    dialog->reject();
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(MainDialogTest, RefusalsWhileScanning) {
    gShellState.scanning = 1;
    const QString refused = "Option not available during scan.";
    for (int id : {3, 104, 32787, 1033, 32779, 32790, 32784, 32785}) {
        dialog->setInformation("");
        EXPECT_EQ(dialog->onCommand(id, 0), 1) << id;
        EXPECT_EQ(dialog->controlText(1000), refused) << id;
    }
    EXPECT_TRUE(prompts.questions().empty());  // no About was opened
    EXPECT_FALSE(logHas(u"In Settings"));
    EXPECT_FALSE(logHas(u"In Infected"));

    // Real time and schedule still open during a scan.
    dialog->setInformation("");
    dialog->onCommand(32780, 0);
    dialog->onCommand(32781, 0);
    EXPECT_EQ(dialog->controlText(1000), "");
    // Only the call point is checked for real time: its command has no
    // dialog yet, so all the user gets is the entry line in the log.
    EXPECT_TRUE(logHas(u"In RealTime\n"));
    EXPECT_TRUE(logHas(u"Schedual:: Init Calls\n"));
}

TEST_F(MainDialogTest, AboutOpensModallyOwnedByTheDialog) {
    prompts.queueDialogHandler([](QDialog& about) {
        EXPECT_EQ(about.objectName(), "dialog106");
        return static_cast<AboutDialog&>(about).onCommand(1, 0);
    });
    EXPECT_EQ(dialog->onCommand(104, 0), 1);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].kind, ScriptedPrompts::Kind::Dialog);
    EXPECT_TRUE(prompts.questions()[0].hasOwner);
    // A code other than 0 does nothing.
    EXPECT_EQ(dialog->onCommand(104, 1), 1);
    EXPECT_EQ(prompts.questions().size(), 1u);
    // Ids the dialog does not handle fall to default processing.
    EXPECT_EQ(dialog->onCommand(4242, 0), 0);
}

TEST_F(MainDialogTest, ScanResultsBeforeAnyScanShowsTheMessageBox) {
    gShellState.scanning = 1;  // the message box comes first, scanning or not
    EXPECT_EQ(dialog->onCommand(1026, 0), 1);
    ASSERT_EQ(prompts.questions().size(), 1u);
    const auto& question = prompts.questions()[0];
    EXPECT_EQ(question.kind, ScriptedPrompts::Kind::MessageBox);
    EXPECT_EQ(question.text, u"Please run a system scan to be able to view a scan log.");
    EXPECT_EQ(question.caption, u"Orvane - Information...");
    EXPECT_EQ(question.buttons, PromptButtons::Ok);
    EXPECT_FALSE(question.hasOwner);

    gShellState.setScanReportPath(u"..\\logs\\Orvane_1.log");
    dialog->onCommand(1026, 0);
    EXPECT_EQ(dialog->controlText(1000), "Option not available during scan.");
    gShellState.scanning = 0;
    dialog->onCommand(1026, 0);
    ASSERT_EQ(prompts.questions().size(), 2u);
    EXPECT_EQ(prompts.questions()[1].kind, ScriptedPrompts::Kind::Dialog);
    EXPECT_EQ(prompts.questions()[1].text, u"dialog148");
}

TEST_F(MainDialogTest, EnableScanButtonStateKeepsScanAndAboutUsable) {
    const int switched[] = {1033, 1035, 1045, 1026, 1028, 1031, 1037};
    EXPECT_EQ(EnableScanButtonState(0), 0);
    for (int id : switched) EXPECT_FALSE(dialog->control(id)->isEnabled()) << id;
    EXPECT_TRUE(dialog->control(1002)->isEnabled());
    EXPECT_TRUE(dialog->control(3)->isEnabled());
    EXPECT_EQ(EnableScanButtonState(1), 1);
    for (int id : switched) EXPECT_TRUE(dialog->control(id)->isEnabled()) << id;
    EXPECT_TRUE(logHas(u"In EnableScanButtonState\n"));
}

TEST_F(MainDialogTest, ScanTimeCountsTicksWhileScanning) {
    ScanTimerCounterThread();  // not scanning: ends at once
    EXPECT_FALSE(dialog->scanTimerCounterRunning());
    gShellState.scanning = 1;
    ScanTimerCounterThread();
    EXPECT_TRUE(dialog->scanTimerCounterRunning());
    for (int i = 0; i < 61; ++i) dialog->tickScanTime();
    EXPECT_EQ(dialog->controlText(1062), "00:01:01");
    gShellState.scanning = 0;
    dialog->tickScanTime();  // the last tick still counts, then it stops
    EXPECT_EQ(dialog->controlText(1062), "00:01:02");
    EXPECT_FALSE(dialog->scanTimerCounterRunning());
    EXPECT_TRUE(logHas(u"In ScanTimerCounterThread\n"));
    // Stopped by the end of the scan, the last value stays.
    gShellState.scanning = 1;
    ScanTimerCounterThread();
    dialog->tickScanTime();
    StopScanTimerCounterThread();
    EXPECT_FALSE(dialog->scanTimerCounterRunning());
    EXPECT_EQ(dialog->controlText(1062), "00:00:01");
}

TEST_F(MainDialogTest, ScheduledStartTimer) {
    dialog->armScheduledStartTimer();
    EXPECT_TRUE(dialog->scheduledStartTimerArmed());
    dialog->onScheduledStartTimer();  // flag clear: nothing starts
    EXPECT_FALSE(dialog->scheduledStartTimerArmed());
    EXPECT_TRUE(logHas(u"Got sched time: 0\n"));
    EXPECT_TRUE(logHas(u"ScanTimerCounterThread=> sched=false time ended\n"));
    EXPECT_EQ(gShellState.scanning, 0);

    // Due jobs start real scans in a sandbox installation.
    apptest::AppSandbox box;
    box.plant(box.c / "due.exe", "planted for the scheduled scan");
    ScanPanel* panel = ScanPanelOf(dialog.get());
    panel->control().setEngineFolder(apptest::AppSandbox::engineFolder());
    panel->control().setTimings({std::chrono::milliseconds(10), std::chrono::milliseconds(10),
                                 std::chrono::milliseconds(10), std::chrono::milliseconds(10)});
    auto finished = [&](int scans) {
        return apptest::WaitFor([&] { return panel->finishedScans() >= scans; },
                                [] { QCoreApplication::processEvents(); });
    };

    // A threat job checks the threat scan and runs it.
    radio(1037)->click();
    gShellState.scheduledStart = 1;
    gShellState.scheduledScanType = 1034;
    dialog->onScheduledStartTimer();
    EXPECT_TRUE(radio(1028)->isChecked());
    EXPECT_FALSE(radio(1037)->isChecked());
    EXPECT_EQ(gShellState.scanning, 1);
    ASSERT_TRUE(finished(1));
    EXPECT_EQ(panel->control().request().scanType, 1034);
    EXPECT_EQ(gShellState.scanning, 0);
    EXPECT_EQ(gShellState.scheduledStart, 0);
    EXPECT_TRUE(logHas(u"In SetOVWindowInFront\n"));
    ASSERT_EQ(box.reportLogs().size(), 1u);
    EXPECT_NE(apptest::ReadFile(box.reportLogs()[0]).find(" Scan Type: Threat System Scout\n\r"),
              std::string::npos);

    // A full job scans C:\ without asking for drives.
    gShellState.scheduledStart = 1;
    gShellState.scheduledScanType = 1035;
    dialog->onScheduledStartTimer();
    EXPECT_TRUE(radio(1031)->isChecked());
    ASSERT_TRUE(finished(2));
    for (const auto& asked : prompts.questions())  // no drive dialog, only the results
        EXPECT_NE(asked.text, u"dialog137");
    EXPECT_EQ(std::u16string(panel->control().request().scanPaths), u"C:\\");
    EXPECT_EQ(gShellState.scheduledStart, 0);
    const std::string report = apptest::ReadFile(box.reportLogs().back());
    EXPECT_NE(report.find(" Scan Type: Full System Scout\n\r"), std::string::npos);
    EXPECT_NE(report.find("*** DEBUG *** C:\\\n\r"), std::string::npos);
    EXPECT_NE(report.find("due.exe [(null)].\n\r"), std::string::npos);
    EXPECT_TRUE(dialog->controlText(1000).endsWith(" 1 Infected Found."));
}

TEST_F(MainDialogTest, UpdaterMissingKeepsTheApplicationRunning) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine,
                                       u"SOFTWARE\\Orvane\\Wardline", key),
              0u);
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, u"SOFTWARE\\Orvane\\Wardline",
                                    u"Path", folder.windows(), platform::kRegExpandSz),
              0u);
    const auto previous = std::filesystem::current_path();
    bool exited = false;
    gShellProcess.exitProcess = [&](int) { exited = true; };
    EXPECT_EQ(dialog->onCommand(1069, 0), 1);
    std::filesystem::current_path(previous);
    EXPECT_EQ(dialog->controlText(1000), "Error Start The Update Progress...");
    EXPECT_FALSE(exited);
    EXPECT_TRUE(logHas(u"In DoUpdateRutine\n"));
    gShellProcess.Reset();
}

}  // namespace
