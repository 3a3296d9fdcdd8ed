// The scan button of the main dialog, offscreen, with the real engine in a
// sandbox installation: what a user gets from each scan type, the stop, the
// target dialogs and the new-drive announcement.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTreeWidget>
#include <atomic>
#include <memory>
#include <thread>

#include "app/scan/app_sandbox_support.h"
#include "app/scan/custom_scan_dialog.h"
#include "app/scan/full_scan_dialog.h"
#include "app/scan/new_drive_watch_qt.h"
#include "app/scan/scan_panel_qt.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/image_button.h"
#include "app/shell/main_dialog.h"
#include "app/shell/scripted_prompts.h"
#include "app/shell/shell_state.h"
#include "app/shell/shell_test_support.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

using namespace std::chrono_literals;
using apptest::AppSandbox;
using apptest::Occurrences;

constexpr ScanTimings kQuick{10ms, 10ms, 10ms, 10ms};

class ScanButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        gShellState.Reset();
        gAppLog.Reset();
        ResetDefaultReportLog();
        box = std::make_unique<AppSandbox>();
        appLogPath = box->root / "app.log";
        ASSERT_EQ(gAppLog.Open(AppSandbox::windows(appLogPath).c_str()), 0);
        dialog = std::make_unique<MainDialog>();
        dialog->show();
        panel = ScanPanelOf(dialog.get());
        panel->control().setEngineFolder(AppSandbox::engineFolder());
        panel->control().setTimings(kQuick);
        // What the engine sends, counted on the scan thread itself.
        panel->progress().setMessageHook([this](uint32_t code) {
            if (code == SCANMSG_OBJECT_TICK) ++sentObjects;
            if (code == SCANMSG_INFECTED_TICK) ++sentInfected;
        });
    }
    void TearDown() override {
        dialog.reset();
        gShellState.Reset();
        gAppLog.Reset();
        ResetDefaultReportLog();
        box.reset();
    }

    bool pumpUntil(const std::function<bool()>& done) {
        return apptest::WaitFor(done, [] { QCoreApplication::processEvents(); });
    }
    bool waitFinished(int scans = 1) {
        return pumpUntil([&] { return panel->finishedScans() >= scans; });
    }
    void choose(int radio) { qobject_cast<QRadioButton*>(dialog->control(radio))->click(); }
    int scanPicture() { return dynamic_cast<ImageButton*>(dialog->control(1002))->artId(); }
    std::string reportLog() {
        const auto logs = box->reportLogs();
        return logs.empty() ? std::string() : apptest::ReadFile(logs.back());
    }
    bool appLogHas(const std::u16string& text) {
        return readBytes(appLogPath).find(utf16le(text)) != std::string::npos;
    }
    void answerCustomWithFolder(const std::filesystem::path& folder) {
        prompts.queueDialogHandler([this, folder](QDialog& d) {
            auto& custom = dynamic_cast<CustomScanDialog&>(d);
            prompts.queuePath(platform::toUtf16(folder.string()));
            custom.onCommand(1056);
            custom.onCommand(1026);
            return custom.result();
        });
    }
    void skipWithoutPrivileges() {
        if (panel->progress().snapshot().information == u"no privilege error")
            GTEST_SKIP() << "the account lacks the scan's privileges";
    }

    std::unique_ptr<AppSandbox> box;
    std::filesystem::path appLogPath;
    ScriptedPrompts prompts;
    std::unique_ptr<MainDialog> dialog;
    ScanPanel* panel = nullptr;
    std::atomic<int> sentObjects{0};
    std::atomic<int> sentInfected{0};
};

TEST_F(ScanButtonTest, CustomFolderScanEndsWithItsTotalsReportLogAndControlsBack) {
    const auto target = box->c / "target";
    box->plant(target / "eicar.com", apptest::kEicar);
    box->plant(target / "bad.exe", "a planted program");
    box->plant(target / "sub" / "deep.exe", "another planted program");
    box->write(target / "clean.exe", "nothing known");
    answerCustomWithFolder(target);

    choose(1037);
    EXPECT_EQ(dialog->onCommand(1002, 0), 1);
    EXPECT_EQ(gShellState.scanning, 1);
    EXPECT_EQ(scanPicture(), artwork::kScanStop);
    for (int id : {1028, 1031, 1037, 1033, 1026}) EXPECT_FALSE(dialog->control(id)->isEnabled());
    ASSERT_TRUE(waitFinished());
    skipWithoutPrivileges();

    // Every file is an object, and the engine counts some more (its reads).
    const int objects = sentObjects;
    EXPECT_GE(objects, 4);
    EXPECT_EQ(sentInfected, 3);
    EXPECT_EQ(dialog->controlText(1000),
              QString("Scan Finished!, %1 Object Scanned, 3 Infected Found.").arg(objects));
    EXPECT_EQ(gShellState.scanning, 0);
    EXPECT_EQ(scanPicture(), artwork::kScanStart);
    for (int id : {1028, 1031, 1037, 1033, 1026, 1002, 3})
        EXPECT_TRUE(dialog->control(id)->isEnabled()) << id;
    const ScanFields fields = panel->progress().snapshot();
    EXPECT_EQ(fields.objects, static_cast<uint32_t>(objects));
    EXPECT_EQ(fields.infected, 3u);
    EXPECT_EQ(fields.threatType, u"Malware");
    EXPECT_EQ(fields.scanType, u"Custom Scout Scan...");
    EXPECT_EQ(std::u16string(panel->control().request().customFolder), AppSandbox::windows(target));

    const auto logs = box->reportLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(gShellState.scanReportPath(), AppSandbox::windows(logs[0]));
    const std::string log = reportLog();
    EXPECT_EQ(log.rfind("\n\r Orvane Anti-Malware (", 0), 0u);
    EXPECT_NE(log.find("\n\r\n\r Scan Type: Custom System Scout\n\r\n\r Started On: "),
              std::string::npos);
    EXPECT_EQ(Occurrences(log, " Infected Generic Malware: "), 3u);
    for (const char* name :
         {"eicar.com [(null)].\n\r", "bad.exe [(null)].\n\r", "deep.exe [(null)].\n\r"})
        EXPECT_EQ(Occurrences(log, name), 1u) << name;
    EXPECT_EQ(log.find("clean.exe"), std::string::npos);
    const std::string n = std::to_string(objects);
    EXPECT_NE(log.find("*** DEBUG *** Scan Finished!, " + n +
                       " Object Scanned, 3 Infected Found.\n\r"
                       "\n\r\n\r Scan Finished!, " +
                       n +
                       " Object Scanned, 3 Infected Object Found."
                       "\n\r\n\r Ended On: "),
              std::string::npos);

    // The custom dialog was asked, owned by the main dialog; then the results.
    ASSERT_GE(prompts.questions().size(), 2u);
    EXPECT_EQ(prompts.questions()[0].text, u"dialog149");
    EXPECT_TRUE(prompts.questions()[0].hasOwner);
    EXPECT_EQ(prompts.questions()[1].kind, ScriptedPrompts::Kind::ChooseFolder);
    for (const char16_t* line : {u"In DoStartOVScanning\n", u"In DoStartOVScanningMngrThreadFunc\n",
                                 u"In DoStartOVScanningThreadFunc\n", u"In ScanResult\n",
                                 u"In EnableScanButtonState\n", u"In CheckAndSendEmailNotifier\n"})
        EXPECT_TRUE(appLogHas(line)) << platform::toUtf8(line);
}

TEST_F(ScanButtonTest, WithoutAScanTypeNothingStarts) {
    EXPECT_EQ(dialog->onCommand(1002, 0), 1);
    EXPECT_EQ(dialog->controlText(1000), "Please Select Scan Type...");
    EXPECT_EQ(gShellState.scanning, 0);
    EXPECT_EQ(scanPicture(), artwork::kScanStart);
    EXPECT_FALSE(panel->pollArmed());
    EXPECT_EQ(panel->control().phase(), ScanPhase::Idle);
    EXPECT_TRUE(prompts.questions().empty());
}

// The scan is held at its first object (on the scan thread) until the stop
// was confirmed, so every step below happens while the engine scans.
TEST_F(ScanButtonTest, StopAnsweredNoGoesOnYesEndsEarlyOnceAndRefusesAnotherStart) {
    const auto target = box->c / "many";
    for (int i = 0; i < 40; ++i) box->write(target / ("file" + std::to_string(i) + ".exe"), "x");
    std::atomic<bool> held{false};
    panel->progress().setMessageHook([&](uint32_t code) {
        if (code != SCANMSG_OBJECT_TICK) return;
        held = true;
        const auto end = std::chrono::steady_clock::now() + 120s;
        while (panel->control().phase() != ScanPhase::Stopping &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
    });
    answerCustomWithFolder(target);
    choose(1037);
    dialog->onCommand(1002, 0);
    ASSERT_TRUE(pumpUntil([&] { return held.load() || panel->finishedScans() > 0; }));
    skipWithoutPrivileges();
    ASSERT_TRUE(held);
    const size_t asked = prompts.questions().size();

    prompts.queueAnswer(kAnswerNo);
    dialog->onCommand(1002, 0);
    ASSERT_EQ(prompts.questions().size(), asked + 1);
    EXPECT_EQ(prompts.questions().back().text, u"Are you sure you want to stop the scan?");
    EXPECT_EQ(prompts.questions().back().caption, u"Abort Scanning...");
    EXPECT_EQ(prompts.questions().back().buttons, PromptButtons::YesNo);
    EXPECT_EQ(gShellState.scanning, 1);
    EXPECT_EQ(scanPicture(), artwork::kScanStop);
    EXPECT_EQ(panel->control().phase(), ScanPhase::Running);
    EXPECT_TRUE(panel->control().workerRunning());

    prompts.queueAnswer(kAnswerYes);
    dialog->onCommand(1002, 0);
    EXPECT_EQ(panel->control().phase(), ScanPhase::Stopping);
    EXPECT_FALSE(dialog->control(1002)->isEnabled());
    EXPECT_EQ(dialog->controlText(1000), QString::fromStdU16String(kStoppingText));

    // Another click while it winds down starts nothing and asks nothing.
    const size_t before = prompts.questions().size();
    dialog->onCommand(1002, 0);
    EXPECT_EQ(prompts.questions().size(), before);
    EXPECT_EQ(gShellState.scanning, 1);
    EXPECT_EQ(dialog->controlText(1000), QString::fromStdU16String(kStoppingText));

    ASSERT_TRUE(waitFinished());
    const ScanFields fields = panel->progress().snapshot();
    EXPECT_LT(fields.objects, 40u);
    EXPECT_EQ(dialog->controlText(1000),
              QString("Scan Finished!, %1 Object Scanned, 0 Infected Found.").arg(fields.objects));
    EXPECT_EQ(gShellState.scanning, 0);
    EXPECT_TRUE(dialog->control(1002)->isEnabled());
    EXPECT_EQ(scanPicture(), artwork::kScanStart);
    // Finished once: one footer, and nothing more comes.
    EXPECT_EQ(Occurrences(reportLog(), " Ended On: "), 1u);
    const auto settle = std::chrono::steady_clock::now() + 200ms;
    while (std::chrono::steady_clock::now() < settle) QCoreApplication::processEvents();
    EXPECT_EQ(panel->finishedScans(), 1);
    EXPECT_FALSE(panel->pollArmed());
    EXPECT_EQ(panel->control().phase(), ScanPhase::Idle);
    EXPECT_FALSE(panel->control().managerRunning());
}

TEST_F(ScanButtonTest, FullScanOfTheDrivesTickedInItsDialog) {
    const auto e = box->root / "e";
    std::filesystem::create_directories(e);
    ASSERT_TRUE(box->mapDrive('E', e));
    box->plant(box->c / "on-c.exe", "planted on c");
    box->plant(e / "on-e.exe", "planted on e");
    prompts.queueDialogHandler([](QDialog& d) {
        auto& full = dynamic_cast<FullScanDialog&>(d);
        EXPECT_EQ(full.driveList()->headerItem()->text(0), "Drive");
        EXPECT_GE(full.driveList()->topLevelItemCount(), 2);
        full.onCommand(1002);  // nothing ticked: the dialog stays open
        EXPECT_EQ(full.result(), 0);
        EXPECT_TRUE(full.tick(u"C:\\"));
        EXPECT_TRUE(full.tick(u"E:\\"));
        full.onCommand(1002);
        return full.result();
    });
    choose(1031);
    dialog->onCommand(1002, 0);
    ASSERT_TRUE(waitFinished());
    skipWithoutPrivileges();

    EXPECT_EQ(std::u16string(panel->control().request().scanPaths), u"C:\\E:\\");
    EXPECT_EQ(prompts.questions().at(0).text, u"dialog137");
    const std::string log = reportLog();
    EXPECT_NE(log.find(" Scan Type: Full System Scout\n\r"), std::string::npos);
    EXPECT_NE(log.find("*** DEBUG *** C:\\E:\\\n\r"), std::string::npos);
    EXPECT_EQ(Occurrences(log, "on-c.exe [(null)]."), 1u);
    EXPECT_EQ(Occurrences(log, "on-e.exe [(null)]."), 1u);
    EXPECT_EQ(sentInfected, 2);
    EXPECT_EQ(
        dialog->controlText(1000),
        QString("Scan Finished!, %1 Object Scanned, 2 Infected Found.").arg(sentObjects.load()));
}

TEST_F(ScanButtonTest, CancellingTheDriveDialogFinishesAnEmptyScan) {
    choose(1031);
    dialog->onCommand(1002, 0);  // no answer queued: the dialog is cancelled
    ASSERT_TRUE(waitFinished());
    EXPECT_EQ(prompts.questions().at(0).text, u"dialog137");
    EXPECT_EQ(dialog->controlText(1000), "Scan Finished!, 0 Object Scanned, 0 Infected Found.");
    EXPECT_TRUE(box->reportLogs().empty());
    EXPECT_EQ(gShellState.scanning, 0);
    EXPECT_TRUE(dialog->control(1031)->isEnabled());
}

TEST_F(ScanButtonTest, CloseBrowsersIsAskedFirstWhenTheSettingIsOn) {
    box->setSetting(names::kCloseBrowsers, 1);
    choose(1037);
    prompts.queueAnswer(kAnswerNo);
    dialog->onCommand(1002, 0);
    ASSERT_TRUE(waitFinished());
    ASSERT_GE(prompts.questions().size(), 2u);
    EXPECT_EQ(prompts.questions()[0].text, u"Are you sure you want to close all open browsers?");
    EXPECT_EQ(prompts.questions()[0].caption, u"Orvane - Close Browsers...");
    EXPECT_FALSE(appLogHas(u"In DoCloseAllWebBrowsers"));
    EXPECT_EQ(prompts.questions()[1].text, u"dialog149");
}

TEST_F(ScanButtonTest, CustomDialogAFileThenAFolderLeavesOnlyTheFolder) {
    const auto file = box->c / "tool.exe";
    box->write(file, "a tool");
    CustomScanDialog custom(dialog.get());
    prompts.queuePath(platform::toUtf16(file.string()));
    custom.onCommand(1055);
    EXPECT_EQ(custom.targets().file(), u"C:\\tool.exe");
    EXPECT_EQ(custom.findChild<QLineEdit*>("id1048")->text(), "C:\\tool.exe");
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].kind, ScriptedPrompts::Kind::OpenFile);
    EXPECT_EQ(prompts.questions()[0].text, kCustomScanFileFilter);

    prompts.queuePath(platform::toUtf16(box->c.string()));
    custom.onCommand(1056);
    EXPECT_EQ(custom.targets().file(), u"");
    EXPECT_EQ(custom.targets().folder(), u"C:\\");
    EXPECT_EQ(custom.findChild<QLineEdit*>("id1048")->text(), "");
    EXPECT_EQ(custom.findChild<QLineEdit*>("id1049")->text(), "C:\\");
    custom.onCommand(1026);
    EXPECT_EQ(custom.result(), 1);
}

TEST_F(ScanButtonTest, ANewDriveIsAnnouncedInTheTimedMessage) {
    const auto usb = box->root / "usb";
    std::filesystem::create_directories(usb);
    std::atomic<int> reads{0};
    QString shown;
    bool owned = false;
    prompts.queueDialogHandler([&](QDialog& d) {
        shown = d.findChild<QPlainTextEdit*>("id1064")->toPlainText();
        owned = d.parentWidget() == dialog.get();
        return 1;
    });
    auto* watch = new NewDriveWatch(dialog.get(), 20ms, [&] {
        std::u16string strings = platform::logicalDriveStrings();
        if (++reads == 3) (void)box->mapDrive('Q', usb);  // between a pair of reads
        return strings;
    });
    ASSERT_TRUE(watch->start());
    ASSERT_TRUE(pumpUntil([&] { return !shown.isEmpty(); }));
    delete watch;
    EXPECT_EQ(shown, "Found New Added Device: Q:\\");
    EXPECT_TRUE(owned);
    EXPECT_EQ(prompts.questions().at(0).text, u"dialog150");
}

}  // namespace
