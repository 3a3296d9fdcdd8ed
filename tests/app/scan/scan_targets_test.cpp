#include "app/scan/scan_targets.h"

#include <gtest/gtest.h>

#include <string>

#include "app/scan/app_sandbox_support.h"
#include "platform/text.h"

namespace {

using namespace std::string_literals;

// Drive string lists as the platform gives them: each root ends in a NUL,
// and one more NUL ends the list.
std::u16string List(std::initializer_list<const char16_t*> roots) {
    std::u16string out;
    for (const char16_t* root : roots) {
        out += root;
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

TEST(DriveStrings, SplitKeepsTheSystemsOrder) {
    EXPECT_EQ(SplitDriveStrings(List({u"C:\\", u"E:\\", u"Z:\\"})),
              (std::vector<std::u16string>{u"C:\\", u"E:\\", u"Z:\\"}));
    EXPECT_TRUE(SplitDriveStrings(List({})).empty());
    EXPECT_TRUE(SplitDriveStrings(u"").empty());
}

TEST(FullScanTargets, TickedDrivesMakeTheListAndNothingTickedKeepsItOpen) {
    struct Case {
        std::vector<size_t> ticked;
        bool taken;
        std::u16string list;
    } cases[] = {
        {{0, 1}, true, u"C:\\E:\\"},
        {{1}, true, u"E:\\"},
        {{2, 0}, true, u"C:\\Z:\\"},
        {{}, false, u""},
    };
    for (const auto& c : cases) {
        FullScanTargets targets;
        targets.load(List({u"C:\\", u"E:\\", u"Z:\\"}));
        ASSERT_EQ(targets.size(), 3u);
        for (size_t i : c.ticked) targets.setChecked(i, true);
        EXPECT_EQ(targets.start(), c.taken);
        EXPECT_EQ(targets.driveList(), c.list);
    }
    // A second start makes the list anew.
    FullScanTargets targets;
    targets.load(List({u"C:\\", u"E:\\"}));
    targets.setChecked(0, true);
    ASSERT_TRUE(targets.start());
    targets.setChecked(0, false);
    targets.setChecked(1, true);
    ASSERT_TRUE(targets.start());
    EXPECT_EQ(targets.driveList(), u"E:\\");
}

TEST(CustomScanTargets, EachChoiceClearsBoth) {
    CustomScanTargets targets;
    targets.chooseFile(u"C:\\a\\tool.exe");
    EXPECT_EQ(targets.file(), u"C:\\a\\tool.exe");
    targets.chooseFolder(u"C:\\b");
    EXPECT_EQ(targets.file(), u"");
    EXPECT_EQ(targets.folder(), u"C:\\b");
    targets.chooseFile(u"");  // a cancelled picker still clears both
    EXPECT_EQ(targets.folder(), u"");
    EXPECT_EQ(targets.file(), u"");
    // A path longer than the field is refused whole, never cut.
    targets.chooseFolder(u"C:\\" + std::u16string(600, u'a'));
    EXPECT_EQ(targets.folder(), u"");
}

TEST(CustomScanTargets, PickedHostPathsBecomeWindowsPaths) {
    apptest::AppSandbox box;  // C: is the sandbox's folder c
    EXPECT_EQ(PickedPathToWindows(platform::toUtf16((box.c / "dir").string())), u"C:\\dir");
    EXPECT_EQ(PickedPathToWindows(u"E:\\kept"), u"E:\\kept");
    EXPECT_EQ(PickedPathToWindows(u""), u"");
}

TEST(NewDriveComparison, ReportsTheFirstNewRoot) {
    struct Case {
        std::u16string before;
        std::u16string after;
        std::u16string found;
    } cases[] = {
        // A drive after the others: its root.
        {List({u"C:\\", u"D:\\"}), List({u"C:\\", u"D:\\", u"E:\\"}), u"E:\\"},
        // One that sorts first: the text from the first difference.
        {List({u"C:\\", u"D:\\"}), List({u"B:\\", u"C:\\", u"D:\\"}), u"B:\\"},
        {List({u"C:\\", u"F:\\"}), List({u"C:\\", u"E:\\", u"F:\\"}), u"E:\\"},
        // Nothing new, a drive gone, or no drives before: nothing.
        {List({u"C:\\"}), List({u"C:\\"}), u""},
        {List({u"C:\\", u"E:\\"}), List({u"C:\\"}), u""},
        {List({}), List({u"C:\\"}), u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindNewDrive(c.before, c.after), c.found) << platform::toUtf8(c.found);
    }
}

}  // namespace
