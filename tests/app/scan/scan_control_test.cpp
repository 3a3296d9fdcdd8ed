#include "app/scan/scan_control.h"

#include <gtest/gtest.h>

#include <string>

#include "app/scan/app_sandbox_support.h"
#include "app/scan/report_log.h"
#include "common/scan_codes.h"
#include "platform/text.h"

namespace {

using namespace std::chrono_literals;

TEST(ScanPoll, RearmsWhileEitherThreadRuns) {
    const ScanTimings timings;  // the application's own
    EXPECT_EQ(NextScanPoll(true, true, timings), 5000ms);
    EXPECT_EQ(NextScanPoll(true, false, timings), 5000ms);
    EXPECT_EQ(NextScanPoll(false, true, timings), 2000ms);
    EXPECT_EQ(NextScanPoll(false, false, timings), 0ms);
    EXPECT_EQ(timings.firstPoll, 2000ms);
}

// The scan control without a user interface: the "dialogs" answer at once
// on the worker, and the poll is driven by the test.
class ScanControlTest : public ::testing::Test {
protected:
    void SetUp() override { ResetDefaultReportLog(); }
    void TearDown() override { ResetDefaultReportLog(); }

    // Runs one scan to its end; false when it did not end in time.
    bool runToEnd(ScanControl& control, ScanKind kind) {
        if (!control.start(kind, false)) return false;
        const bool ended = apptest::WaitFor([&] { return control.poll() == 0ms; }, {});
        control.finished();
        return ended;
    }

    apptest::AppSandbox box;
    ScanProgress progress;
    UiCaller ui{[](std::function<void()> work) { work(); }};
    std::u16string file, folder;
    ScanTargetDialogs dialogs{{}, [this](std::u16string& f, std::u16string& d) {
                                  f = file;
                                  d = folder;
                                  return 1;
                              }};
    static constexpr ScanTimings kQuick{10ms, 10ms, 10ms, 10ms};
};

TEST_F(ScanControlTest, ACustomScanWithFileAndFolderScansOnlyTheFile) {
    box.plant(box.c / "one" / "eicar.com", apptest::kEicar);
    box.plant(box.c / "two" / "a.exe", "first planted program");
    box.plant(box.c / "two" / "b.exe", "second planted program");
    file = u"C:\\one\\eicar.com";
    folder = u"C:\\two";
    ScanControl control(progress, ui, dialogs, {});
    control.setEngineFolder(apptest::AppSandbox::engineFolder());
    control.setTimings(kQuick);
    ASSERT_TRUE(runToEnd(control, ScanKind::Custom));

    EXPECT_EQ(std::u16string(control.request().customFile), file);
    EXPECT_EQ(std::u16string(control.request().customFolder), u"");
    EXPECT_EQ(control.request().scanType, 1036);
    const ScanFields fields = progress.snapshot();
    if (fields.information == u"no privilege error")
        GTEST_SKIP() << "the account lacks the scan's privileges";
    EXPECT_EQ(fields.objects, 1u);
    EXPECT_EQ(fields.infected, 1u);
    EXPECT_EQ(fields.threatType, u"Malware");
    EXPECT_EQ(fields.scanType, u"Custom Scout Scan...");
    EXPECT_EQ(control.phase(), ScanPhase::Idle);
}

TEST_F(ScanControlTest, NoTargetChosenEndsWithoutEngineScanOrReportLog) {
    ScanControl control(progress, ui, dialogs, {});
    control.setEngineFolder(apptest::AppSandbox::engineFolder());
    control.setTimings(kQuick);
    ASSERT_TRUE(runToEnd(control, ScanKind::Custom));
    EXPECT_EQ(progress.snapshot().objects, 0u);
    EXPECT_TRUE(box.reportLogs().empty());
    // And again: one scan after another from the same control.
    ASSERT_TRUE(runToEnd(control, ScanKind::Full));  // no drive dialog: nothing chosen
    EXPECT_TRUE(box.reportLogs().empty());
}

TEST_F(ScanControlTest, AMissingEngineGivesAnEmptyScanThatStillEnds) {
    std::vector<std::u16string> lines;
    ScanControl control(progress, ui, dialogs,
                        [&](const std::u16string& line) { lines.push_back(line); });
    control.setEngineFolder((box.root / "nowhere").string());
    control.setTimings(kQuick);
    file = u"C:\\x.exe";
    ASSERT_TRUE(runToEnd(control, ScanKind::Custom));
    EXPECT_EQ(progress.snapshot().objects, 0u);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], u"In DoStartOVScanningMngrThreadFunc");
    EXPECT_EQ(lines[1], u"In DoStartOVScanningThreadFunc");
    EXPECT_NE(lines[2].find(u"cannot load the engine"), std::u16string::npos);
}

TEST_F(ScanControlTest, ProgressModelActsOnEachCode) {
    box.setSetting(u"Debug", 0);
    ASSERT_EQ(progress.openReportLog(u"Custom System Scout"), 1);
    const struct {
        uint32_t code;
        const char16_t* text;
    } messages[] = {
        {SCANMSG_SCAN_STARTED, u"Custom System Scout started..."},
        {SCANMSG_SCAN_TYPE, u"Custom Scout Scan..."},
        {SCANMSG_SCAN_LOCATION, u"Scanning Files & Folders..."},
        {SCANMSG_OBJECT_TICK, u""},
        {SCANMSG_OBJECT_TICK, u""},
        {SCANMSG_INFECTED_TICK, u""},
        {SCANMSG_THREAT_TYPE, u"Malware"},
        {SCANMSG_REPORT_LINE, u" Infected Generic Malware: c:\\x.exe [(null)]."},
        {SCANMSG_HIDDEN_PROCESS, u"ghost"},
        {SCANMSG_DEBUG, u"a trace"},
        {SCANMSG_CURRENT_FILE, u"c:\\x.exe"},
        {SCANMSG_SCAN_ENDED, u"scan ended"},
        {SCANMSG_STATUS, u"Scan thread started"},
    };
    for (const auto& m : messages) progress.onEngineMessage(m.code, m.text);
    const ScanFields f = progress.snapshot();
    EXPECT_EQ(f.objects, 2u);
    EXPECT_EQ(f.infected, 1u);
    EXPECT_EQ(f.hiddenProcesses, 1u);
    EXPECT_EQ(f.hiddenName, u"ghost");
    EXPECT_EQ(f.threatType, u"Malware");
    EXPECT_EQ(f.scanType, u"Custom Scout Scan...");
    EXPECT_EQ(f.location, u"Scanning Files & Folders...");
    EXPECT_EQ(f.information, u"Scan thread started");
    EXPECT_FALSE(progress.wantsMessage(SCANMSG_DEBUG));
    EXPECT_FALSE(progress.wantsMessage(SCANMSG_CURRENT_FILE));
    EXPECT_TRUE(progress.wantsMessage(SCANMSG_OBJECT_TICK));
    // With Debug 1 the traces and texts become debug lines as well.
    box.setSetting(u"Debug", 1);
    EXPECT_TRUE(progress.wantsMessage(SCANMSG_DEBUG));
    progress.onEngineMessage(SCANMSG_DEBUG, u"another trace");
    progress.onEngineMessage(SCANMSG_SCAN_LOCATION, u"Startup Locations...");
    ASSERT_EQ(progress.writeReportFooter(2, 1), 1);
    const std::string log = apptest::ReadFile(box.reportLogs().at(0));
    EXPECT_NE(log.find(" Infected Generic Malware: c:\\x.exe [(null)].\n\r"), std::string::npos);
    EXPECT_EQ(log.find("a trace"), std::string::npos);
    EXPECT_NE(log.find("*** DEBUG *** another trace\n\r*** DEBUG *** Startup Locations...\n\r"),
              std::string::npos);
}

}  // namespace
