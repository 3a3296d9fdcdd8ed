#include "app/results/reports_list.h"

#include <gtest/gtest.h>

#include "app/results/results_sandbox_support.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

TEST(ReportsList, ListsEveryReportWithItsCountAndDate) {
    ResultsSandbox box;
    box.write("logs/Orvane_3.5.2026.7.8.9.log",
              " Scan Finished!, 12 Object Scanned, 3 Infected Object Found.");
    box.write("logs/Orvane_3.6.2026.1.1.1.log",
              " Scan Finished!, 7 Object Scanned, No Infected Found.");
    box.write("logs/Orvane_4.1.2026.0.0.0.log", " Scan aborted");
    box.write("logs/OrvaneApp_1.1.2026.0.0.0.log", "not a report");
    ReportsList reports;
    ASSERT_EQ(reports.AddReportsToList(), 1);
    ASSERT_EQ(reports.rows().size(), 3u);
    EXPECT_EQ(reports.rows()[0].name, u"Orvane_3.5.2026.7.8.9.log");
    EXPECT_EQ(reports.rows()[0].results, u"3 Malware Found");
    EXPECT_EQ(reports.rows()[0].date, u"3.5.2026");
    EXPECT_EQ(reports.rows()[1].results, u"No Malware Found");
    EXPECT_EQ(reports.rows()[2].results, u"No Malware Found");
    EXPECT_EQ(reports.GetScanResultCount(u"missing.log"), 0);
    EXPECT_EQ(reports.GetScanResultCount(u""), 0);

    ResultsSandbox empty;
    ReportsList none;
    EXPECT_EQ(none.AddReportsToList(), 0);
}

TEST(ReportsList, CountsTheFirstCurrentLabelEvenBehindAnOlderOneAndLongLines) {
    ResultsSandbox box;
    std::string report = " Scan Finished!, 2 Object Scand, 4 Infected Object Found.\n\r";
    report += "*** DEBUG *** " + std::string(200000, 'x') + "\n\r";
    report += " Scan Finished!, 12 Object Scanned, 3 Infected Object Found.\n\r";
    box.write("logs/Orvane_1.1.2026.1.1.1.log", report);
    box.write("logs/Orvane_1.1.2026.1.1.2.log", " Scan Finished!, 2 Object Scand, 4 Infected");
    ReportsList reports;
    EXPECT_EQ(reports.GetScanResultCount(u"Orvane_1.1.2026.1.1.1.log"), 3);
    EXPECT_EQ(reports.GetScanResultCount(u"Orvane_1.1.2026.1.1.2.log"), 4);
}

TEST(ReportsList, OpensTheViewerWithTheReportsPath) {
    ResultsSandbox box;
    std::vector<std::u16string> opened;
    ReportsList reports(kLogsFolder, [&opened](std::u16string_view path) {
        opened.emplace_back(path);
        return 0u;
    });
    EXPECT_EQ(reports.OpenReportFile(u"ab"), 0);
    EXPECT_EQ(reports.OpenReportFile(u"..\\x.log"), 0);
    EXPECT_NE(reports.OpenReportFile(u"Orvane_1.log"), 0);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(platform::toHostPath(opened[0]), box.host("logs/Orvane_1.log").string());
}

TEST(ReportsList, DeleteAllPassesOverAHeldLogAndRemovesTheRest) {
    ResultsSandbox box;
    for (const char* name : {"Orvane_1.log", "OrvaneApp_2.log", "OrvaneInit.log", "Orvane_3.log"})
        box.write(std::string("logs/") + name, "x");
    box.write("logs/other.log", "x");
    platform::File held;
    ASSERT_EQ(platform::File::open(box.windows("logs/OrvaneApp_2.log"), platform::kGenericWrite,
                                   platform::kShareRead, platform::Disposition::OpenExisting, held),
              0u);
    ReportsList reports;
    EXPECT_EQ(reports.DoDelateAllLogs(), 0);
    EXPECT_TRUE(box.exists("logs/OrvaneApp_2.log"));
    EXPECT_FALSE(box.exists("logs/Orvane_1.log"));
    EXPECT_FALSE(box.exists("logs/OrvaneInit.log"));
    EXPECT_FALSE(box.exists("logs/Orvane_3.log"));
    EXPECT_TRUE(box.exists("logs/other.log"));
}

}  // namespace
