#include "app/results/results_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ostream>

#include "app/results/registry_place.h"
#include "app/results/results_sandbox_support.h"
#include "platform/text.h"

namespace {

// A report with two findings that came from the Run key and one without a
// registry place; the second file cannot be deleted (it is a folder).
class ResultsListTest : public testing::Test {
protected:
    void SetUp() override {
        box.write("home/a.exe", "a");
        box.write("home/c.exe", "c");
        std::filesystem::create_directories(box.host("home/b.exe"));
        std::string report = "\n\r Orvane Anti-Malware (Wardline)\n\r";
        report += line("a.exe", u"HKEY_CURRENT_USER\\" + std::u16string(kRunKey) + u"\\A");
        report += line("b.exe", u"DoScanRegistryLocations: HKEY_CURRENT_USER\\" +
                                    std::u16string(kRunKey) + u"\\B");
        report += line("c.exe", u"(null)");
        report += "\n\r\n\r Scan Finished!, 9 Object Scanned, 3 Infected Object Found.\n\r\n\r";
        box.write("logs/Orvane_1.2.2026.3.4.5.log", report);
        SetRunValue(u"A", u"a");
        SetRunValue(u"B", u"b");
    }

    std::string line(const std::string& file, const std::u16string& location) {
        return platform::toUtf8(u" Infected Generic Malware: " + box.windows("home/" + file) +
                                u" [" + location + u"].") +
               "\n\r";
    }

    ResultsSandbox box;
    ResultsList list;
};

TEST_F(ResultsListTest, ReadsTheRowsAndTheSummaryFromTheReport) {
    ASSERT_EQ(list.AddItemToResultToList(u"..\\logs\\Orvane_1.2.2026.3.4.5.log"), 1);
    ASSERT_EQ(list.rows().size(), 3u);
    EXPECT_EQ(list.rows()[0].finding.name, box.windows("home/a.exe") + u" ");
    EXPECT_EQ(list.rows()[2].finding.location, u"(null)");
    EXPECT_EQ(list.reportSummary(), u" Scan Finished!, 9 Object Scanned, 3 Infected Object Found.");
    EXPECT_EQ(list.AddItemToResultToList(u"..\\logs\\none.log"), 0);
    EXPECT_TRUE(list.rows().empty());
}

TEST_F(ResultsListTest, AnOverlongLineDoesNotHideTheFindingsAfterIt) {
    std::string report = "*** DEBUG *** " + std::string(300000, 'y') + "\n\r";
    report += line("a.exe", u"(null)");
    box.write("logs/long.log", report);
    ASSERT_EQ(list.AddItemToResultToList(u"..\\logs\\long.log"), 1);
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_EQ(list.rows()[0].finding.name, box.windows("home/a.exe") + u" ");
}

TEST_F(ResultsListTest, DeleteAllTouchesTheRegistryOnlyWhereTheFileStayed) {
    ASSERT_EQ(list.AddItemToResultToList(u"..\\logs\\Orvane_1.2.2026.3.4.5.log"), 1);
    EXPECT_EQ(list.DeleteAllObjectsInList(), 1);
    EXPECT_FALSE(box.exists("home/a.exe"));
    EXPECT_FALSE(box.exists("home/c.exe"));
    EXPECT_TRUE(RunValueExists(u"A"));   // its file went, so the value stays
    EXPECT_FALSE(RunValueExists(u"B"));  // its file could not go
    for (const auto& row : list.rows()) EXPECT_EQ(row.extra, u"Deleted");
}

TEST_F(ResultsListTest, DeleteSelectedTakesOnlyTheTickedRowsAndTheirValues) {
    ASSERT_EQ(list.AddItemToResultToList(u"..\\logs\\Orvane_1.2.2026.3.4.5.log"), 1);
    list.DeleteSelectedObjectsInList();  // nothing ticked: nothing changes
    EXPECT_TRUE(box.exists("home/a.exe"));
    EXPECT_EQ(list.rows()[0].extra, u"");
    list.rows()[0].checked = true;
    list.DeleteSelectedObjectsInList();
    EXPECT_FALSE(box.exists("home/a.exe"));
    EXPECT_TRUE(box.exists("home/c.exe"));
    EXPECT_FALSE(RunValueExists(u"A"));
    EXPECT_TRUE(RunValueExists(u"B"));
    EXPECT_EQ(list.rows()[0].extra, u"Deleted");
    EXPECT_EQ(list.rows()[1].extra, u"");
}

TEST_F(ResultsListTest, QuarantineTwiceWritesOneRecordAndMarksTheRowBothTimes) {
    ASSERT_EQ(list.AddItemToResultToList(u"..\\logs\\Orvane_1.2.2026.3.4.5.log"), 1);
    list.rows()[0].checked = true;
    list.MoveSelectedObjectsInList();
    EXPECT_FALSE(box.exists("home/a.exe"));
    EXPECT_FALSE(RunValueExists(u"A"));
    EXPECT_EQ(box.records().size(), 1u);
    EXPECT_EQ(list.lastCodes()[0], 0u);
    list.MoveSelectedObjectsInList();  // the file is gone now
    EXPECT_EQ(list.lastCodes()[0], 2u);
    EXPECT_EQ(box.records().size(), 1u);
    EXPECT_EQ(list.rows()[0].extra, u"Quarantine");
}

TEST_F(ResultsListTest, QuarantineAllMovesEveryFileAndRemovesTheValues) {
    ASSERT_EQ(list.AddItemToResultToList(u"..\\logs\\Orvane_1.2.2026.3.4.5.log"), 1);
    list.MoveAllObjectsInList();
    EXPECT_EQ(box.records().size(), 2u);  // a.exe and c.exe; b.exe is a folder
    EXPECT_FALSE(RunValueExists(u"A"));
    EXPECT_FALSE(RunValueExists(u"B"));
}

struct RegKeyCase {
    const char16_t* location;
    int32_t result;
    bool valueRemains;
};

std::ostream& operator<<(std::ostream& out, const RegKeyCase& c) {
    return out << platform::toUtf8(c.location);
}

class DeleteRegKey : public testing::TestWithParam<RegKeyCase> {};

TEST_P(DeleteRegKey, DeletesOnlyTheValueItsTextNames) {
    ResultsSandbox box;
    SetRunValue(u"V", u"x");
    (void)platform::writeString(platform::RegRoot::CurrentUser, u"", u"Direct", u"d");
    EXPECT_EQ(OVDeleteRegKey(GetParam().location), GetParam().result);
    EXPECT_EQ(RunValueExists(u"V"), GetParam().valueRemains);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DeleteRegKey,
    testing::Values(
        RegKeyCase{u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\V", 1,
                   false},
        RegKeyCase{u"xx: HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run/V", 1,
                   false},
        RegKeyCase{u"HKEY_CURRENT_USER\\Direct", 1, true},
        RegKeyCase{u"C:\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\V", 1, true},
        RegKeyCase{u"HKEY_CURRENT_USER", 1, true},
        // An unknown root is HKEY_LOCAL_MACHINE, where the key does not exist.
        RegKeyCase{u"HKEY_OTHER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\V", 0, true}));

TEST(DeleteRegKeyDirect, OneSeparatorDeletesTheValueUnderTheRoot) {
    ResultsSandbox box;
    ASSERT_EQ(platform::writeString(platform::RegRoot::CurrentUser, u"", u"Direct", u"d"), 0u);
    EXPECT_EQ(OVDeleteRegKey(u"HKEY_CURRENT_USER\\Direct"), 1);
    std::u16string value;
    EXPECT_NE(platform::readString(platform::RegRoot::CurrentUser, u"", u"Direct", value), 0u);
}

}  // namespace
