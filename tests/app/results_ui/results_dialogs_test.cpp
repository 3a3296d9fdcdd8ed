#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTreeWidget>

#include "app/results/record_header.h"
#include "app/results/reports_dialog.h"
#include "app/results/results_sandbox_support.h"
#include "app/results/scan_result_dialog.h"
#include "app/results/threat_management_dialog.h"
#include "app/shell/app_log.h"
#include "app/shell/entry_points.h"
#include "app/shell/scripted_prompts.h"
#include "app/shell/shell_state.h"
#include "common/registry_names.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

QStringList headers(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->columnCount(); ++i) out << list->headerItem()->text(i);
    return out;
}

class ResultsDialogsTest : public testing::Test {
protected:
    void SetUp() override {
        box.write("home/a.exe", "a");
        box.write("home/b.exe", "b");
        std::string report;
        for (const char* name : {"a.exe", "b.exe"})
            report += platform::toUtf8(u" Infected Generic Malware: " +
                                       box.windows(std::string("home/") + name) + u" [(null)].") +
                      "\n\r";
        report += "\n\r\n\r Scan Finished!, 5 Object Scanned, 2 Infected Object Found.\n\r";
        box.write("logs/Orvane_3.5.2026.7.8.9.log", report);
        reportPath = u"..\\logs\\Orvane_3.5.2026.7.8.9.log";
    }

    ResultsSandbox box;
    ScriptedPrompts prompts;
    std::u16string reportPath;
};

TEST_F(ResultsDialogsTest, ScanResultsListsTheReportsFindingsWithTheirSummary) {
    ScanResultDialog dialog(u"a text without the summary", reportPath);
    EXPECT_EQ(dialog.objectName(), "dialog148");
    EXPECT_EQ(headers(dialog.list()),
              QStringList({"Threat Name", "Threat Type", "Threat Location", "Extra"}));
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 2);
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(0).toStdU16String(),
              box.windows("home/a.exe") + u" ");
    EXPECT_EQ(dialog.list()->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(dialog.summaryText(), " Scan Finished!, 5 Object Scanned, 2 Infected Object Found.");

    ScanResultDialog missing(u"\n\r Scan Finished!, 1 Object Scanned, No Infected Found.",
                             u"..\\logs\\none.log");
    EXPECT_EQ(missing.list()->topLevelItemCount(), 0);
    EXPECT_EQ(missing.summaryText(), "\n\r Scan Finished!, 1 Object Scanned, No Infected Found.");
}

struct QuestionCase {
    int id;
    const char16_t* question;
};

class ScanResultQuestions : public ResultsDialogsTest,
                            public testing::WithParamInterface<QuestionCase> {};

TEST_P(ScanResultQuestions, EachActionAsksFirstAndNoChangesNothing) {
    ScanResultDialog dialog(u"", reportPath);
    dialog.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    prompts.queueAnswer(kAnswerNo);
    EXPECT_EQ(dialog.onCommand(GetParam().id, 0), 0);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, GetParam().question);
    EXPECT_EQ(prompts.questions()[0].caption, u"Orvane");
    EXPECT_EQ(prompts.questions()[0].buttons, PromptButtons::YesNo);
    EXPECT_FALSE(prompts.questions()[0].hasOwner);
    EXPECT_TRUE(box.exists("home/a.exe"));
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(3), "");
}

INSTANTIATE_TEST_SUITE_P(
    Actions, ScanResultQuestions,
    testing::Values(
        QuestionCase{1002, u"Are you sure you want to delete all the objects in the list?"},
        QuestionCase{1012, u"Are you sure you want to delete the select objects in the list?"},
        QuestionCase{1026, u"Are you sure you want to move the select objects to quarantine?"},
        QuestionCase{1030, u"Are you sure you want to move all objects to quarantine?"}));

TEST_F(ResultsDialogsTest, ScanResultsActOnTheTickedRowsAndShowWhatWasDone) {
    ScanResultDialog dialog(u"", reportPath);
    dialog.list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
    prompts.queueAnswer(kAnswerYes);
    dialog.onCommand(1026, 0);
    EXPECT_TRUE(box.exists("home/a.exe"));
    EXPECT_FALSE(box.exists("home/b.exe"));
    EXPECT_EQ(box.records().size(), 1u);
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(3), "");
    EXPECT_EQ(dialog.list()->topLevelItem(1)->text(3), "Quarantine");
    prompts.queueAnswer(kAnswerYes);
    dialog.onCommand(1002, 0);
    EXPECT_FALSE(box.exists("home/a.exe"));
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(3), "Deleted");
    // A code other than 0 asks nothing; 1 ends the dialog.
    EXPECT_EQ(dialog.onCommand(1002, 1), 0);
    EXPECT_EQ(prompts.questions().size(), 2u);
    EXPECT_EQ(dialog.onCommand(1, 0), 1);
    EXPECT_EQ(dialog.result(), 1);
}

TEST_F(ResultsDialogsTest, ScanResultOpensModallyWithTheSummaryAndTheReport) {
    prompts.queueDialogHandler([this](QDialog& opened) {
        auto& results = static_cast<ScanResultDialog&>(opened);
        EXPECT_EQ(results.list()->topLevelItemCount(), 2);
        return results.onCommand(1, 0);
    });
    EXPECT_EQ(ScanResult(nullptr, u"Scan Finished!, 5 Object Scanned, 2 Infected Object Found.",
                         reportPath.c_str()),
              1);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, u"dialog148");
    // Without a path it reads the current scan report.
    gShellState.setScanReportPath(reportPath);
    EXPECT_EQ(ScanResult(nullptr), 2);
    gShellState.Reset();
}

TEST_F(ResultsDialogsTest, ThreatManagementListsRecordsAndShowsErrorsInErrorBoxes) {
    std::u16string lost = box.windows("home/gone/x.exe");
    box.write("infected/0123456789abcdef0123456789abcdef.ovm",
              RecordHeaderBytes(BuildRecordHeaderText(lost, u"(null)", u"Trojan")) + "x");
    ThreatManagementDialog dialog;
    EXPECT_EQ(dialog.objectName(), "dialog141");
    EXPECT_EQ(headers(dialog.list()), QStringList({"Item", "Date", "Type", "Location"}));
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(0).toStdU16String(), lost);
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(2), "Generic Trojan");
    dialog.onCommand(1003, 0);
    ASSERT_EQ(prompts.questions().size(), 2u);
    EXPECT_EQ(prompts.questions()[0].text, u"Create File " + lost + u", code: 3");
    EXPECT_EQ(prompts.questions()[0].caption, u"ERROR");
    EXPECT_EQ(prompts.questions()[0].buttons, PromptButtons::Ok);
    EXPECT_FALSE(prompts.questions()[0].hasOwner);
    EXPECT_EQ(box.records().size(), 1u);
    // The list is not reloaded; delete removes the record.
    dialog.onCommand(1002, 0);
    EXPECT_EQ(dialog.list()->topLevelItemCount(), 1);
    EXPECT_TRUE(box.records().empty());
}

TEST_F(ResultsDialogsTest, ReportsOpensTheFocusedReportAndDeletesAllLogs) {
    box.write("logs/Orvane_3.6.2026.1.1.1.log",
              " Scan Finished!, 7 Object Scanned, No Infected Found.");
    std::vector<std::u16string> opened;
    ReportsDialog dialog(nullptr, kLogsFolder, [&opened](std::u16string_view path) {
        opened.emplace_back(path);
        return 0u;
    });
    EXPECT_EQ(dialog.objectName(), "dialog142");
    EXPECT_EQ(headers(dialog.list()), QStringList({"Name", "Results", "Date"}));
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 2);
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(1), "2 Malware Found");
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(2), "3.5.2026");
    EXPECT_EQ(dialog.list()->topLevelItem(1)->text(1), "No Malware Found");

    dialog.list()->setCurrentItem(nullptr);
    dialog.onDoubleClick();  // no focused row: nothing
    EXPECT_TRUE(opened.empty());
    dialog.list()->setCurrentItem(dialog.list()->topLevelItem(1));
    dialog.onCommand(1026, 0);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], u"..\\logs\\Orvane_3.6.2026.1.1.1.log");

    dialog.onCommand(1002, 0);
    EXPECT_EQ(dialog.list()->topLevelItemCount(), 0);
    EXPECT_FALSE(box.exists("logs/Orvane_3.5.2026.7.8.9.log"));
    EXPECT_TRUE(prompts.questions().empty());
    dialog.onCommand(1003, 0);
    EXPECT_EQ(dialog.list()->topLevelItemCount(), 0);
}

struct TraceCase {
    uint32_t debug;
    bool traced;
};

class ReportsTraces : public ResultsDialogsTest, public testing::WithParamInterface<TraceCase> {};

TEST_P(ReportsTraces, AreWrittenAtDebugLevelOnlyWhenDebugIsOne) {
    gAppLog.Reset();
    const std::u16string logName = box.windows("logs/app.log");
    ASSERT_EQ(gAppLog.Open(logName.c_str()), 0);
    ASSERT_EQ(platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey,
                                   names::kDebug, GetParam().debug),
              0u);
    {
        ReportsDialog dialog(nullptr, kLogsFolder, [](std::u16string_view) { return 0u; });
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
        dialog.onDoubleClick();
        dialog.onCommand(1003, 0);
        dialog.onCommand(1, 0);
    }
    EXPECT_EQ(gAppLog.level.load(), LOG_INFO);
    gAppLog.Reset();
    std::u16string log;
    {
        std::string bytes = box.read("logs/app.log");
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            log.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    EXPECT_NE(log.find(u"In Reports"), std::u16string::npos);
    EXPECT_NE(log.find(u"In GetScanResultCount"), std::u16string::npos);
    for (const char16_t* trace :
         {u"Reports DLG INIT Start", u"AddReportsToList Start", u"GetScanResultCount End 1",
          u"AddReportsToList Ended.", u"Reports DLG INIT END",
          u"Reports DLG CMD DBLCLK View Log Start", u"OpenReportFile Ended OK",
          u"Reports DLG CMD DBLCLK View Log End", u"Reports DLG CMD REFRESH",
          u"Reports DLG CMD EXIT"}) {
        EXPECT_EQ(log.find(trace) != std::u16string::npos, GetParam().traced)
            << platform::toUtf8(trace);
    }
}

INSTANTIATE_TEST_SUITE_P(Debug, ReportsTraces,
                         testing::Values(TraceCase{1, true}, TraceCase{0, false}));

}  // namespace
