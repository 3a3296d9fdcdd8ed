// Log files made by root where others may have been first: only a new file
// or a regular file of ours with no other name is ever written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/fs.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(LogFile, CreatedPrivateAndReplacedOnlyWhenOurs) {
    ovtest::TempFolder dir;
    const std::string victim = dir.host("victim");
    std::ofstream(victim) << "precious";
    struct Case {
        const char* what;
        std::function<void(const std::string&)> plant;
        bool written;
    } cases[] = {
        {"nothing there", [](const std::string&) {}, true},
        {"an old log of ours", [](const std::string& p) { std::ofstream(p) << "old"; }, true},
        {"a link to a file", [&](const std::string& p) { fs::create_symlink(victim, p); }, false},
        {"a dangling link", [&](const std::string& p) { fs::create_symlink(victim + ".none", p); },
         false},
        {"a second name of a file", [&](const std::string& p) { fs::create_hard_link(victim, p); },
         false},
        {"a FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, false},
        {"a folder", [](const std::string& p) { fs::create_directory(p); }, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "log" + std::to_string(n++) + ".log";
        const std::string path = dir.host(name);
        c.plant(path);
        platform::File file;
        const uint32_t rc =
            platform::File::createLog(platform::toWindowsPath(path), platform::kShareRead, file);
        EXPECT_EQ(rc == 0, c.written) << c.what << " (" << rc << ")";
        if (rc == 0) {
            uint32_t written = 0;
            ASSERT_EQ(file.write("new", 3, written), 0u) << c.what;
            file.close();
            EXPECT_EQ(ReadAll(path), "new") << c.what;
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << c.what;
        }
        EXPECT_EQ(ReadAll(victim), "precious") << c.what;
    }
    if (::geteuid() == 0) {
        // A file of another user is not replaced by root.
        const std::string path = dir.host("theirs.log");
        std::ofstream(path) << "theirs";
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        platform::File file;
        EXPECT_NE(
            platform::File::createLog(platform::toWindowsPath(path), platform::kShareRead, file),
            0u);
        EXPECT_EQ(ReadAll(path), "theirs");
    }
}

TEST(LogFile, NeverInAFolderThatIsALink) {
    ovtest::TempFolder dir;
    dir.makeFolder("real");
    fs::create_directory_symlink(dir.host("real"), dir.host("logs"));
    platform::File file;
    EXPECT_EQ(platform::File::createLog(platform::toWindowsPath(dir.host("logs") + "/a.log"),
                                        platform::kShareRead, file),
              5u);
    EXPECT_TRUE(fs::is_empty(dir.host("real")));
}

TEST(TrustedProgram, OnlyRootsAloneAndRealFiles) {
    if (::geteuid() != 0) GTEST_SKIP() << "files of root are made by root";
    ovtest::TempFolder dir;
    ::chmod(dir.host().c_str(), 0755);
    dir.makeFolder("bin");
    dir.writeFile("bin/good", "#!/bin/sh\n");
    ::chmod(dir.host("bin/good").c_str(), 0755);
    dir.writeFile("bin/open", "#!/bin/sh\n");
    ::chmod(dir.host("bin/open").c_str(), 0757);
    dir.writeFile("bin/theirs", "#!/bin/sh\n");
    ::chmod(dir.host("bin/theirs").c_str(), 0755);
    ASSERT_EQ(::chown(dir.host("bin/theirs").c_str(), 65534, 65534), 0);
    fs::create_symlink(dir.host("bin/good"), dir.host("bin/link-to-good"));
    dir.makeFolder("shared");
    ::chmod(dir.host("shared").c_str(), 01777);
    dir.writeFile("shared/prog", "#!/bin/sh\n");
    ::chmod(dir.host("shared/prog").c_str(), 0755);
    struct Case {
        std::string path;
        uint32_t expected;
    } cases[] = {
        {dir.host("bin/good"), 0},    {dir.host("bin/link-to-good"), 0},
        {dir.host("bin/open"), 5},    {dir.host("bin/theirs"), 5},
        {dir.host("shared/prog"), 5}, {dir.host("bin/missing"), 2},
        {"relative/7zz", 2},          {"/usr/bin/7zz", fs::exists("/usr/bin/7zz") ? 0u : 2u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::checkTrustedProgram(c.path), c.expected) << c.path;
}
