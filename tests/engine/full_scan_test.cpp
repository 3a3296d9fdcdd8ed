#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/walker_sandbox_support.h"
#include "platform/path.h"
#include "platform/text.h"

using namespace walker_test;

namespace {

class FullScan : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = m_box.folder("x");
        m_y = m_box.folder("y");
        if (!m_box.mapDrive('X', m_x) || !m_box.mapDrive('Y', m_y)) {
            GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
        }
        m_box.plant(m_x / "top.txt", "top of x");
        m_box.plant(m_x / "sub" / "deep.txt", "text below x");
        m_box.plant(m_x / "sub" / "deep.exe", "program below x");
        m_box.plant(m_y / "top.txt", "top of y");
        m_box.plant(m_y / "tool.dll", "library on y");
    }
    ScanSandbox m_box;
    fs::path m_x;
    fs::path m_y;
};

TEST_F(FullScan, DriveListsAndTheSmartSetting) {
    struct Case {
        const char16_t* list;
        uint32_t smartExt;
        std::vector<std::string> found;
    } cases[] = {
        // Top-level files unfiltered with SmartExt 0, sub-folders always filtered.
        {u"X:\\", 0, {"x:\\top.txt", "x:\\sub\\deep.exe"}},
        {u"X:\\", 1, {"x:\\sub\\deep.exe"}},
        {u"X:\\Y:\\", 0, {"x:\\top.txt", "x:\\sub\\deep.exe", "y:\\top.txt", "y:\\tool.dll"}},
        {u"X:\\Y:\\", 2, {"x:\\sub\\deep.exe", "y:\\tool.dll"}},  // any nonzero value
        // The last drive of a list without its final backslash is not walked.
        {u"X:\\Y:", 0, {"x:\\top.txt", "x:\\sub\\deep.exe"}},
        {u"Y:", 0, {}},
        {u"", 0, {}},
    };
    const char* all[] = {"x:\\top.txt", "x:\\sub\\deep.txt", "x:\\sub\\deep.exe", "y:\\top.txt",
                         "y:\\tool.dll"};
    for (const auto& c : cases) {
        m_box.setSetting(names::kSmartExt, c.smartExt);
        ScanRecord record = m_box.runFull(c.list);
        const std::string label =
            platform::toUtf8(c.list) + " SmartExt " + std::to_string(c.smartExt);
        for (const char* path : all) {
            const bool expected = std::find(c.found.begin(), c.found.end(), path) != c.found.end();
            EXPECT_EQ(record.findings(path), expected ? 1 : 0) << label << ": " << path;
        }
        EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1) << label;
        EXPECT_EQ(record.count(SCANMSG_SCAN_LOCATION), 1) << label;
    }
}

TEST_F(FullScan, MissingDriveIsPassedOver) {
    m_box.setSetting(names::kSmartExt, 0);
    ScanRecord record = m_box.runFull(u"Q:\\X:\\");
    EXPECT_EQ(record.findings("x:\\top.txt"), 1);
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// A custom scan checks its file first, then walks its folder with the
// smart filter on.
TEST_F(FullScan, CustomScanChecksTheFileThenTheFolder) {
    m_box.setSetting(names::kSmartExt, 0);
    const std::u16string file = platform::toWindowsPath((m_y / "top.txt").string());
    const std::u16string folder = platform::toWindowsPath(m_x.string());
    ScanRecord record = m_box.runCustom(file, folder);
    ASSERT_EQ(record.reportLines.size(), 2u);
    EXPECT_NE(record.reportLines[0].find("y:\\top.txt"), std::string::npos);
    EXPECT_NE(record.reportLines[1].find("sub\\deep.exe"), std::string::npos);
    EXPECT_EQ(record.findings("x:\\top.txt"), 0);  // the folder is always filtered
    EXPECT_TRUE(record.traced("doStartCustomScanRutine:: scan start..."));

    ScanRecord folderOnly = m_box.runCustom(u"", folder);
    EXPECT_EQ(folderOnly.reportLines.size(), 1u);
    ScanRecord fileOnly = m_box.runCustom(file, u"");
    EXPECT_EQ(fileOnly.reportLines.size(), 1u);
}

}  // namespace
