#include "app/results/report_text.h"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/text.h"

namespace {

struct LineCase {
    const char16_t* line;
    bool row;
    const char16_t* name;
    const char16_t* type;
    const char16_t* location;
};

std::ostream& operator<<(std::ostream& out, const LineCase& c) {
    return out << platform::toUtf8(c.line);
}

class FindingLine : public testing::TestWithParam<LineCase> {};

TEST_P(FindingLine, GivesTheRowTheResultsListShows) {
    const LineCase& c = GetParam();
    std::optional<ResultRow> row = ParseFindingLine(c.line);
    ASSERT_EQ(row.has_value(), c.row);
    if (!row) return;
    EXPECT_EQ(row->name, c.name);
    EXPECT_EQ(row->type, c.type);
    EXPECT_EQ(row->location, c.location);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FindingLine,
    testing::Values(
        LineCase{
            u" Infected Generic Malware: C:\\Temp\\a.exe [HKEY_CURRENT_USER\\Software\\Run\\a].",
            true, u"C:\\Temp\\a.exe ", u"Malware", u"HKEY_CURRENT_USER\\Software\\Run\\a"},
        // As read from the file: a carriage return before, a line feed after.
        LineCase{u"\r Infected Generic Malware: C:\\x.exe [(null)].\n", true, u"C:\\x.exe ",
                 u"Malware", u"(null)"},
        // The engine's prefix stays in the location text.
        LineCase{u" Infected Generic Malware: C:\\r.exe [DoScanRegistryLocations: "
                 u"HKEY_CURRENT_USER\\Software\\Run\\r].",
                 true, u"C:\\r.exe ", u"Malware",
                 u"DoScanRegistryLocations: HKEY_CURRENT_USER\\Software\\Run\\r"},
        // A "[" inside the path does not cut it.
        LineCase{u" Infected Generic Malware: C:\\a [1]\\b.exe [(null)].", true,
                 u"C:\\a [1]\\b.exe ", u"Malware", u"(null)"},
        LineCase{u" Infected Generic Malware: C:\\x.exe without bracket", true,
                 u"C:\\x.exe without bracket", u"Malware", u""},
        LineCase{u" Infected Generic Malware: C:\\x.exe [open location", true, u"C:\\x.exe ",
                 u"Malware", u"open location"},
        LineCase{u" Infected Generic no colon here [x].", false, u"", u"", u""},
        LineCase{u"Infected Generic: c:\\y [z]", true, u"c:\\y ", u"Generic", u"z"},
        LineCase{u": Infected Generic", true, u"Infected Generic", u"", u""},
        LineCase{u"\n\r\n\r Scan Finished!, 12 Object Scanned, 3 Infected Object Found.", false,
                 u"", u"", u""}));

TEST(ReportText, SummaryLineIsFoundWithoutItsLineEnds) {
    EXPECT_TRUE(IsSummaryLine(u"\r Scan Finished!, 1 Object Scanned, No Infected Found.\n"));
    EXPECT_FALSE(IsSummaryLine(u" Infected Generic Malware: c:\\x [y]."));
    EXPECT_EQ(TrimLineEnds(u"\r Scan Finished!\n"), u" Scan Finished!");
}

struct CountCase {
    const char* text;
    int32_t count;
};

std::ostream& operator<<(std::ostream& out, const CountCase& c) { return out << c.text; }

class ResultCount : public testing::TestWithParam<CountCase> {};

TEST_P(ResultCount, ReadsTheNumberAfterTheLabel) {
    EXPECT_EQ(ScanResultCountFromText(GetParam().text), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ResultCount,
    testing::Values(CountCase{"\n\r Scan Finished!, 12 Object Scanned, 3 Infected Object Found.",
                              3},
                    CountCase{" Scan Finished!, 7 Object Scanned, No Infected Found.", 0},
                    CountCase{" Scan Finished!, 7 Object Scand, 5 Infected Object Found.", 5},
                    CountCase{"no summary at all", 0}, CountCase{"Object Scanned,", 0},
                    CountCase{"Object Scanned,   42", 42},
                    CountCase{"Object Scanned, 99999999999 Infected", INT32_MAX},
                    CountCase{"Object Scanned, x 3 Infected", 0},
                    // The first label wins, as the debug copy of the line comes first.
                    CountCase{"Object Scanned, 2 Infected ... Object Scanned, 9 Infected", 2}));

TEST(ReportText, DatePartOfAReportName) {
    EXPECT_EQ(ReportDateFromName(u"Orvane_3.5.2026.7.8.9.log"), u"3.5.2026");
    EXPECT_EQ(ReportDateFromName(u"Orvane_12.16.2026.21.5.9.log"), u"12.16.2026");
    EXPECT_EQ(ReportDateFromName(u"Orvane_1.2"), u"1.2");
    EXPECT_EQ(ReportDateFromName(u"Orvane.log"), u"");
}

struct PlaceCase {
    const char16_t* text;
    bool place;
    platform::RegRoot root;
    const char16_t* keyPath;
    const char16_t* value;
};

std::ostream& operator<<(std::ostream& out, const PlaceCase& c) {
    return out << platform::toUtf8(c.text);
}

class LocationText : public testing::TestWithParam<PlaceCase> {};

TEST_P(LocationText, SplitsIntoRootKeyPathAndValue) {
    const PlaceCase& c = GetParam();
    std::optional<RegistryPlace> place = ParseLocationText(c.text);
    ASSERT_EQ(place.has_value(), c.place);
    if (!place) return;
    EXPECT_EQ(place->root, c.root);
    EXPECT_EQ(place->keyPath, c.keyPath);
    EXPECT_EQ(place->valueName, c.value);
}

using platform::RegRoot;
INSTANTIATE_TEST_SUITE_P(
    Texts, LocationText,
    testing::Values(
        PlaceCase{u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Updater",
                  true, RegRoot::CurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                  u"Updater"},
        PlaceCase{u"HKEY_USERS/x/y", true, RegRoot::Users, u"x", u"y"},
        PlaceCase{u"HKEY_CURRENT_USER\\Direct", true, RegRoot::CurrentUser, u"", u"Direct"},
        PlaceCase{u"HKEY_NOSUCH\\a\\b", true, RegRoot::LocalMachine, u"a", u"b"},
        PlaceCase{u"hkey_current_user\\a\\b", false, RegRoot::LocalMachine, u"", u""},
        PlaceCase{u"HKEY_CURRENT_USER", false, RegRoot::LocalMachine, u"", u""},
        PlaceCase{u"(null)", false, RegRoot::LocalMachine, u"", u""},
        PlaceCase{u"C:\\Temp\\a.exe", false, RegRoot::LocalMachine, u"", u""},
        PlaceCase{u"DoScanRegistryLocations: HKEY_CURRENT_USER\\Software\\Run\\r", true,
                  RegRoot::CurrentUser, u"Software\\Run", u"r"},
        PlaceCase{u" DoScanRegistryLocations: HKEY_LOCAL_MACHINE\\S\\Run\\m", true,
                  RegRoot::LocalMachine, u"S\\Run", u"m"}));

}  // namespace
