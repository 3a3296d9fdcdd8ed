#include "platform/file_replace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "temp_folder.h"

namespace {

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ReplaceFile, TheOldFileBecomesTheBackupAndTheNewOneTakesItsPlace) {
    ovtest::TempFolder folder;
    folder.writeFile("db", "old");
    folder.writeFile("db.bak", "older");
    folder.writeFile("db.new", "new");
    ASSERT_EQ(platform::replaceFile(folder.windows(u"db"), folder.windows(u"db.new"),
                                    folder.windows(u"db.bak")),
              0u);
    EXPECT_EQ(contentOf(folder.host("db")), "new");
    EXPECT_EQ(contentOf(folder.host("db.bak")), "old");
    EXPECT_FALSE(std::filesystem::exists(folder.host("db.new")));
    EXPECT_FALSE(std::filesystem::exists(folder.host("db.bak.tmp")));
}

TEST(ReplaceFile, WithoutATargetOrABackupNameTheNewFileIsMovedIn) {
    ovtest::TempFolder folder;
    folder.writeFile("db.new", "new");
    ASSERT_EQ(platform::replaceFile(folder.windows(u"db"), folder.windows(u"db.new"),
                                    folder.windows(u"db.bak")),
              0u);
    EXPECT_EQ(contentOf(folder.host("db")), "new");
    EXPECT_FALSE(std::filesystem::exists(folder.host("db.bak")));
    folder.writeFile("db.new", "newer");
    ASSERT_EQ(platform::replaceFile(folder.windows(u"db"), folder.windows(u"db.new"), u""), 0u);
    EXPECT_EQ(contentOf(folder.host("db")), "newer");
}

TEST(ReplaceFile, AMissingReplacementOrAPlantedLinkChangesNothing) {
    ovtest::TempFolder folder;
    folder.writeFile("db", "old");
    EXPECT_EQ(platform::replaceFile(folder.windows(u"db"), folder.windows(u"db.new"),
                                    folder.windows(u"db.bak")),
              2u);
    EXPECT_EQ(contentOf(folder.host("db")), "old");

    folder.writeFile("elsewhere", "precious");
    folder.writeFile("db.new", "new");
    ASSERT_EQ(::symlink(folder.host("elsewhere").c_str(), folder.host("db.bak").c_str()), 0);
    EXPECT_EQ(platform::replaceFile(folder.windows(u"db"), folder.windows(u"db.new"),
                                    folder.windows(u"db.bak")),
              5u);
    ::unlink(folder.host("db.bak").c_str());
    ASSERT_EQ(::symlink(folder.host("elsewhere").c_str(), folder.host("db.link").c_str()), 0);
    EXPECT_EQ(platform::replaceFile(folder.windows(u"db.link"), folder.windows(u"db.new"), u""),
              5u);
    EXPECT_EQ(contentOf(folder.host("elsewhere")), "precious");
    EXPECT_EQ(contentOf(folder.host("db")), "old");
    EXPECT_EQ(contentOf(folder.host("db.new")), "new");
}

}  // namespace
