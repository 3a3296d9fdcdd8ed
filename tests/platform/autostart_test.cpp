// The machine's Run key reflected into autostart entries.
#include "platform/linux/autostart.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/path.h"
#include "platform/registry.h"
#include "platform/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

constexpr char16_t kRun[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class AutostartTest : public ::testing::Test {
protected:
    AutostartTest()
        : registry("ORVANE_REGISTRY", folder.host("registry.db")),
          autostart("ORVANE_AUTOSTART_DIR", folder.host("autostart")),
          events("ORVANE_EVENT_LOG", folder.host("events.log")) {
        fs::create_directories(folder.host("autostart"));
        fs::create_directories(folder.host("my apps"));
        folder.writeFile("my apps/tool", "#!/bin/sh\n");
        resetRegistryConnection();
    }
    ~AutostartTest() override { resetRegistryConnection(); }

    fs::path entry(const std::string& name) const {
        return fs::path(folder.host("autostart")) / name;
    }

    ovtest::TempFolder folder;
    ovtest::ScopedEnv registry;
    ovtest::ScopedEnv autostart;
    ovtest::ScopedEnv events;
};

TEST_F(AutostartTest, ValueWrittenAndDeletedMakesAndRemovesItsEntry) {
    const std::u16string tool = folder.windows(u"my apps\\tool");
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kRun, u"My Tool", tool + u" --quiet \"a b\""), 0u);
    const fs::path file = entry("orvane-run-my_0020tool.desktop");
    const std::string text = readText(file);
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\nName=My Tool\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Exec=\"" + folder.host("my apps/tool") + "\" \"--quiet\" \"a b\"\n"),
              std::string::npos)
        << text;

    // Another key's value, or another root's, makes nothing.
    ASSERT_EQ(writeString(RegRoot::CurrentUser, kRun, u"Other", tool), 0u);
    ASSERT_EQ(writeString(RegRoot::LocalMachine, u"SOFTWARE\\Other", u"Other", tool), 0u);
    EXPECT_FALSE(fs::exists(entry("orvane-run-other.desktop")));

    RegKey key;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, kRun, key), 0u);
    ASSERT_EQ(key.deleteValue(u"MY TOOL"), 0u);  // names are case-insensitive
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(AutostartTest, DeletingTheKeyOrAParentRemovesItsEntries) {
    const std::u16string tool = folder.windows(u"my apps\\tool");
    for (const char16_t* deleted : {kRun, u"SOFTWARE\\Microsoft"}) {
        ASSERT_EQ(writeString(RegRoot::LocalMachine, kRun, u"One", tool), 0u);
        ASSERT_EQ(writeString(RegRoot::LocalMachine, kRun, u"Two", tool), 0u);
        ASSERT_TRUE(fs::exists(entry("orvane-run-one.desktop")));
        ASSERT_EQ(deleteTree(RegRoot::LocalMachine, deleted), 0u);
        EXPECT_FALSE(fs::exists(entry("orvane-run-one.desktop")));
        EXPECT_FALSE(fs::exists(entry("orvane-run-two.desktop")));
    }
    // A sibling key's deletion leaves the entries.
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kRun, u"One", tool), 0u);
    ASSERT_EQ(writeString(RegRoot::LocalMachine,
                          u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", u"x", tool),
              0u);
    ASSERT_EQ(
        deleteTree(RegRoot::LocalMachine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"),
        0u);
    EXPECT_TRUE(fs::exists(entry("orvane-run-one.desktop")));
}

TEST_F(AutostartTest, ExecQuotesEveryReservedCharacter) {
    std::string text;
    ASSERT_TRUE(detail::autostartEntryText(
        u"x", {"/opt/a b/p", "$HOME", "`id`", "50%", "a\\b", "say \"hi\""}, text));
    EXPECT_NE(
        text.find("Exec=\"/opt/a b/p\" \"\\\\$HOME\" \"\\\\`id\\\\`\" \"50%%\" \"a\\\\\\\\b\" "
                  "\"say \\\\\"hi\\\\\"\"\n"),
        std::string::npos)
        << text;
    // A line break cannot stand in an entry.
    EXPECT_FALSE(detail::autostartEntryText(u"x", {"/bin/a", "1\n2"}, text));
    EXPECT_FALSE(detail::autostartEntryText(u"x\ny", {"/bin/a"}, text));
}

TEST_F(AutostartTest, CommandLines) {
    const std::string tool = folder.host("my apps/tool");
    const std::u16string windows = folder.windows(u"my apps\\tool");
    EXPECT_EQ(detail::runCommandArguments(u"\"" + windows + u"\" -x"),
              (std::vector<std::string>{tool, "-x"}));
    EXPECT_EQ(detail::runCommandArguments(windows + u".exe /s \"c d\""),
              (std::vector<std::string>{tool, "/s", "c d"}));
    EXPECT_TRUE(detail::runCommandArguments(u"").empty());
    EXPECT_TRUE(detail::runCommandArguments(u"\"unclosed").empty());
}

TEST_F(AutostartTest, FileNamesNeverCollide) {
    EXPECT_EQ(detail::autostartFileName(u"Orvane"), "orvane-run-orvane.desktop");
    EXPECT_NE(detail::autostartFileName(u"a b"), detail::autostartFileName(u"a_b"));
    EXPECT_EQ(detail::autostartFileName(u"../x"), "orvane-run-_002e_002e_002fx.desktop");
}

TEST_F(AutostartTest, UnwritableFolderKeepsTheValueAndLogsTheReason) {
    ovtest::ScopedEnv missing("ORVANE_AUTOSTART_DIR", folder.host("no such folder"));
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kRun, u"Orvane", folder.windows(u"my apps\\tool")),
              0u);
    std::u16string value;
    EXPECT_EQ(readString(RegRoot::LocalMachine, kRun, u"Orvane", value), 0u);
    const std::string log = readText(folder.host("events.log"));
    EXPECT_NE(log.find("Run value Orvane"), std::string::npos) << log;
    EXPECT_NE(log.find("cannot be opened"), std::string::npos) << log;
}

TEST_F(AutostartTest, PlantedLinkIsReplacedNotFollowedAndForeignFilesStay) {
    folder.writeFile("target", "keep");
    ASSERT_EQ(::symlink(folder.host("target").c_str(), entry("orvane-run-orvane.desktop").c_str()),
              0);
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kRun, u"Orvane", folder.windows(u"my apps\\tool")),
              0u);
    EXPECT_EQ(readText(folder.host("target")), "keep");
    EXPECT_FALSE(fs::is_symlink(entry("orvane-run-orvane.desktop")));

    // A file under an entry's name that is not ours is left alone.
    std::ofstream(entry("orvane-run-foreign.desktop")) << "[Desktop Entry]\n";
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kRun, u"Foreign", u"C:\\nothing"), 0u);
    std::ofstream(entry("orvane-run-foreign.desktop"), std::ios::trunc) << "[Desktop Entry]\n";
    RegKey key;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, kRun, key), 0u);
    ASSERT_EQ(key.deleteValue(u"Foreign"), 0u);
    EXPECT_TRUE(fs::exists(entry("orvane-run-foreign.desktop")));
}

TEST(AutostartFolder, PrivateRegistryIsNeverReflectedIntoTheMachine) {
    ovtest::ScopedEnv registry("ORVANE_REGISTRY", "/tmp/some.db");
    ::unsetenv("ORVANE_AUTOSTART_DIR");
    EXPECT_EQ(detail::autostartFolder(), "");
}

}  // namespace
