// ovdb and orvane-setup run as root in folders others may reach: what they
// write goes through a fresh file beside the target, so a link planted at a
// name they would once have used is never followed, and the logs folder
// they make is private.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/registry.h"
#include "tools/registry_tool_support.h"
#include "tools/tools_test_support.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ino_t InodeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

TEST(ToolWritesSafety, OvdbNeverWritesThroughAPlantedLink) {
    regtool::TempFolder dir;
    const fs::path root = dir.path();
    const fs::path victim = root / "victim";
    std::ofstream(victim) << "precious";
    const fs::path database = root / "hashdb.dbf";
    // The names a write beside the database used to take.
    fs::create_symlink(victim, root / "hashdb.dbf.tmp");
    const fs::path list = root / "list.txt";
    std::ofstream(list) << "44D88612FEA8A8F36DE82E1278ABB02F  eicar\n";

    auto built = regtool::runTool("ovdb", {"build", database.string(), list.string()});
    ASSERT_EQ(built.exitCode, 0) << built.err;
    const ino_t first = InodeOf(database);
    std::ofstream(list, std::ios::trunc) << "00112233445566778899AABBCCDDEEFF  other\n";
    auto added = regtool::runTool("ovdb", {"add", database.string(), list.string()});
    EXPECT_EQ(added.exitCode, 0) << added.err;
    EXPECT_NE(InodeOf(database), first) << "the database is replaced, not rewritten in place";

    EXPECT_EQ(ReadAll(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(root / "hashdb.dbf.tmp"));
    auto dumped = regtool::runTool("ovdb", {"dump", database.string()});
    EXPECT_NE(dumped.out.find("44D88612FEA8A8F36DE82E1278ABB02F"), std::string::npos) << dumped.out;
    // Nothing is left beside the database.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 4);  // victim, the old link, the list and the database
}

TEST(ToolWritesSafety, SetupNeverWritesThroughAPlantedLinkAndKeepsLogsPrivate) {
    regtool::TempFolder dir;
    const fs::path root = fs::path(dir.path()) / "Orvane";
    const fs::path victim = fs::path(dir.path()) / "victim";
    std::ofstream(victim) << "precious";
    fs::create_directories(root / "data");
    fs::create_symlink(victim, root / "data" / "hashdb.dbf.setup-tmp");

    ::unsetenv("ORVANE_REGISTRY");
    auto run = regtool::runTool("orvane-setup", {"--root", root.string()});
    platform::resetRegistryConnection();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(ReadAll(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(root / "data" / "hashdb.dbf.setup-tmp"));
    EXPECT_TRUE(fs::is_regular_file(root / "data" / "hashdb.dbf"));
    struct stat st {};
    ASSERT_EQ(::stat((root / "logs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "the logs folder is for its owner only";
}
