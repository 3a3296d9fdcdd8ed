#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/tools_test_support.h"

using toolstest::ReadFile;
using toolstest::RunTool;
using toolstest::TempInstall;
using toolstest::WindowsForm;

namespace {

constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Records(const TempInstall& install) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(install.root() / "infected"))
        if (entry.path().extension() == ".ovm") names.push_back(entry.path().filename().string());
    return names;
}

bool RunValue(const std::u16string& name, std::u16string* data = nullptr) {
    std::u16string value;
    bool found = platform::readString(platform::RegRoot::CurrentUser, kRunKey, name, value) == 0;
    if (data) *data = value;
    return found;
}

}  // namespace

TEST(OrvaneQuarantine, AddListRestoreAndDeleteFromATerminal) {
    TempInstall install;
    std::filesystem::create_directories(install.root() / "infected");
    auto file = install.writeFile("home/evil.exe", "evil bytes");
    ASSERT_EQ(platform::writeString(platform::RegRoot::CurrentUser, kRunKey, u"Evil", u"x"), 0u);
    const std::string location = "HKEY_CURRENT_USER\\" + platform::toUtf8(kRunKey) + "\\Evil";

    auto added = RunTool("orvane-quarantine", {"add", file.string(), "--location", location});
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(RunValue(u"Evil"));
    ASSERT_EQ(Records(install).size(), 1u);
    const std::string record = Records(install)[0];

    auto listed = RunTool("orvane-quarantine", {"list"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(Contains(listed.out, record + "\t")) << listed.out;
    EXPECT_TRUE(
        Contains(listed.out, "\tGeneric Malware\t" + location + "\t" + file.string() + "\n"))
        << listed.out;
    auto json = RunTool("orvane-quarantine", {"list", "--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_TRUE(Contains(json.out, "\"record\":\"" + record + "\"")) << json.out;
    EXPECT_TRUE(Contains(json.out, "\"path\":\"" + file.string() + "\"")) << json.out;

    auto restored = RunTool("orvane-quarantine", {"restore", "all"});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(ReadFile(file), "evil bytes");
    std::u16string data;
    platform::resetRegistryConnection();
    EXPECT_TRUE(RunValue(u"Evil", &data));
    EXPECT_EQ(data, platform::toUtf16(WindowsForm(file)));
    EXPECT_TRUE(Records(install).empty());
    EXPECT_EQ(RunTool("orvane-quarantine", {"restore", "all"}).status, 1);

    ASSERT_EQ(RunTool("orvane-quarantine", {"add", file.string()}).status, 0);
    EXPECT_EQ(RunTool("orvane-quarantine", {"delete", "0123456789abcdef0123456789abcdef"}).status,
              1);
    auto deleted = RunTool("orvane-quarantine", {"delete", record.substr(0, 32)});
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_TRUE(Records(install).empty());
    EXPECT_FALSE(std::filesystem::exists(file));

    EXPECT_EQ(RunTool("orvane-quarantine", {"add", (install.root() / "none").string()}).status, 1);
    EXPECT_EQ(RunTool("orvane-quarantine", {"frobnicate"}).status, 2);
    EXPECT_EQ(RunTool("orvane-quarantine", {"list"}).status, 1);
}

TEST(OrvaneQuarantine, AddReportMovesEveryFindingAndRemovesItsRunValue) {
    TempInstall install;
    std::filesystem::create_directories(install.root() / "infected");
    auto file = install.writeFile("home/run.exe", "runs at logon");
    ASSERT_EQ(platform::writeString(platform::RegRoot::CurrentUser, kRunKey, u"Runner", u"x"), 0u);
    const std::string line = " Infected Generic Malware: " + WindowsForm(file) +
                             " [DoScanRegistryLocations: HKEY_CURRENT_USER\\" +
                             platform::toUtf8(kRunKey) + "\\Runner].\n\r";
    auto report = install.writeFile("logs/Orvane_1.1.2026.1.1.1.log", line);
    auto run = RunTool("orvane-quarantine", {"add-report", report.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(std::filesystem::exists(file));
    platform::resetRegistryConnection();
    EXPECT_FALSE(RunValue(u"Runner"));
    EXPECT_EQ(Records(install).size(), 1u);
    // Restored, the file and its Run value are back.
    EXPECT_EQ(RunTool("orvane-quarantine", {"restore", "all"}).status, 0);
    platform::resetRegistryConnection();
    EXPECT_TRUE(RunValue(u"Runner"));
    EXPECT_EQ(ReadFile(file), "runs at logon");
}

TEST(OrvaneQuarantine, ScanWithQuarantineMovesEveryFinding) {
    if (geteuid() != 0) GTEST_SKIP() << "the engine needs the privileges of root";
    TempInstall install;
    std::filesystem::create_directories(install.root() / "infected");
    auto bad = install.writeFile("files/bad.exe", "known bad bytes");
    auto clean = install.writeFile("files/clean.txt", "harmless text");
    auto list = install.writeFile("hashes.txt", toolstest::Md5Upper(bad) + "  bad.exe\n");
    ASSERT_EQ(RunTool("ovdb", {"build", install.database().string(), list.string()}).status, 0);

    auto run = RunTool("orvane-scan", {"--quarantine", (install.root() / "files").string()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "quarantined: ")) << run.out;
    EXPECT_FALSE(std::filesystem::exists(bad));
    EXPECT_TRUE(std::filesystem::exists(clean));
    EXPECT_EQ(Records(install).size(), 1u);

    auto listed = RunTool("orvane-quarantine", {"list"});
    EXPECT_EQ(listed.status, 0);
    auto restored = RunTool("orvane-quarantine", {"restore", "all"});
    EXPECT_EQ(restored.status, 0) << restored.out << restored.err;
    EXPECT_EQ(ReadFile(bad), "known bad bytes");
}
