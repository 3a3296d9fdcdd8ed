// orvane-scan over a generated tree, end to end: the built program and
// engine, a registry file and hash database of the test's own, real 7-Zip.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "shared/stored_database.h"
#include "tools/registry_tool_support.h"
#include "tools/tools_test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kScanner = std::string(OV_BIN_DIR) + "/orvane-scan";

using regtool::EnvironmentValue;

// The base names of the findings in orvane-scan's JSON lines.
std::multiset<std::string> foundNames(const std::string& json) {
    std::multiset<std::string> names;
    const std::string key = "{\"path\":\"";
    for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        std::string path;
        for (size_t i = at + key.size(); i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\' && i + 1 < json.size()) ++i;
            path += json[i];
        }
        // A member of an archive is named in the location text, after the
        // archives it lies in: "archive member: inner.zip > docs\\a.exe".
        const size_t end = json.find('}', at);
        const std::string member = "\"location\":\"archive member: ";
        const size_t located = json.find(member, at);
        if (located != std::string::npos && located < end) {
            path.clear();
            for (size_t i = located + member.size(); i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\' && i + 1 < json.size()) ++i;
                path += json[i];
            }
            const size_t nested = path.rfind(" > ");
            if (nested != std::string::npos) path = path.substr(nested + 3);
        }
        names.insert(path.substr(path.find_last_of('\\') + 1));
    }
    return names;
}

class OrvaneScanTree : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kScanner) || !fs::exists(std::string(OV_BIN_DIR) + "/libov_core.so")) {
            GTEST_SKIP() << "orvane-scan and libov_core.so are not built";
        }
        if (!fs::exists("/usr/bin/7zz")) GTEST_SKIP() << "/usr/bin/7zz is not installed";
        m_root = m_folder.path();
        for (const char* sub : {"bin", "data", "logs", "temp", "tree"}) {
            fs::create_directories(m_root / sub);
        }
        m_tree = m_root / "tree";
        m_registry.emplace("ORVANE_REGISTRY", (m_root / "registry.db").string());
        m_tmpdir.emplace("TMPDIR", (m_root / "temp").string());
        m_runtime.emplace("ORVANE_RUNTIME_DIR", (m_root / "run").string());
        platform::resetRegistryConnection();
        ASSERT_EQ(
            platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                  names::kValuePath, platform::toUtf16((m_root / "bin").string())),
            0u);
        setSetting(names::kScanArchives, 1);
        setSetting(names::kSmartExt, 0);
        buildTree();
    }
    void TearDown() override {
        m_registry.reset();
        m_tmpdir.reset();
        m_runtime.reset();
        platform::resetRegistryConnection();
    }

    void setSetting(const char16_t* name, uint32_t value) {
        ASSERT_EQ(
            platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value),
            0u);
    }

    void write(const fs::path& file, const std::string& content) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
    void plantFile(const fs::path& file) {
        m_hashes.push_back(toolstest::Md5Upper(file));
        std::string error;
        ASSERT_TRUE(ovtest::writeDatabaseFile(m_root / "data" / "hashdb.dbf",
                                              ovtest::databaseText(m_hashes), error))
            << error;
    }
    void plant(const fs::path& file, const std::string& content) {
        write(file, content);
        plantFile(file);
    }
    void archive(const fs::path& archive, const fs::path& from,
                 const std::vector<std::string>& members) {
        std::vector<std::string> args = {"a", "-bd", "-spd", "--", archive.string()};
        args.insert(args.end(), members.begin(), members.end());
        const fs::path previous = fs::current_path();
        fs::current_path(from);
        regtool::ToolRun made = regtool::runTool("/usr/bin/7zz", args);
        fs::current_path(previous);
        ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
    }

    // Every odd corner the walker must get through, with the files that a
    // scan of the folder must find.
    void buildTree() {
        plant(m_tree / "evil.exe", "planted at the top");
        plant(m_tree / "readme.txt", "planted but not a listed kind");
        plant(m_tree / "docs" / "report.docx", "planted document");
        plant(m_tree / "docs" / "control.ocx", "planted, ocx is not listed");
        plant(m_tree / "with blank" / "blank.dll", "planted in a folder with a blank");

        const fs::path work = m_root / "work";
        plant(work / "inner.exe", "planted inside a zip");
        archive(m_tree / "arch" / "pack.zip", work, {"inner.exe"});
        plantFile(m_tree / "arch" / "pack.zip");  // the archive itself is not hashed
        plant(work / "seven.scr", "planted inside a 7z with a blank in its name");
        archive(m_tree / "arch" / "my pack.7z", work, {"seven.scr"});
        plant(work / "nested.sys", "planted two archives down");
        archive(work / "mid.zip", work, {"nested.sys"});
        archive(m_tree / "arch" / "nest.zip", work, {"mid.zip"});
        std::string big(6 * 1024 * 1024, 'b');
        for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>(i);
        write(work / "a-big.bin", big);
        plant(work / "z-after.exe", "planted behind a member past the size limit");
        archive(m_tree / "arch" / "big.zip", work, {"a-big.bin", "z-after.exe"});

        fs::create_directory_symlink(m_tree, m_tree / "docs" / "loop");
        ASSERT_EQ(::mkfifo((m_tree / "pipe.exe").c_str(), 0600), 0);
        ASSERT_EQ(::mkfifo((m_tree / "arch" / "pipe.zip").c_str(), 0600), 0);

        plant(m_root / "outside" / "outside.exe", "planted outside the scanned tree");
    }

    std::vector<std::string> tempLeftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_root / "temp")) {
            names.push_back(entry.path().filename().string());
        }
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(m_root / "run" / "extract", ignored)) {
            names.push_back("run/extract/" + entry.path().filename().string());
        }
        return names;
    }

    regtool::TempFolder m_folder;
    fs::path m_root;
    fs::path m_tree;
    std::optional<EnvironmentValue> m_registry;
    std::optional<EnvironmentValue> m_tmpdir;
    std::vector<std::string> m_hashes;
    std::optional<EnvironmentValue> m_runtime;
};

const std::multiset<std::string> kFoundInFolder = {
    "evil.exe", "report.docx", "blank.dll", "inner.exe", "seven.scr", "nested.sys", "z-after.exe",
};

TEST_F(OrvaneScanTree, FolderScanFindsExactlyThePlantedFiles) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--json", "--folder", m_tree.string()},
             {"--json", m_tree.string()},  // a positional folder
         }) {
        regtool::ToolRun run = regtool::runTool(kScanner, args);
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        EXPECT_EQ(foundNames(run.out), kFoundInFolder) << run.out;
        EXPECT_NE(run.out.find("\"infected\":7,"), std::string::npos) << run.out;
        EXPECT_TRUE(tempLeftovers().empty());
    }
}

TEST_F(OrvaneScanTree, TextOutputShowsProgressAndTotals) {
    regtool::ToolRun run = regtool::runTool(kScanner, {"--folder", m_tree.string()});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.out.find(" Object Scanned, 7 Infected Found."), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Scan Finished!, 0 Object"), std::string::npos) << run.out;
}

TEST_F(OrvaneScanTree, FullScanWalksOnlyTheMappedDrive) {
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey,
                                    u"\\DosDevices\\X:", platform::toUtf16(m_tree.string())),
              0u);
    if (platform::driveRoot(u'X') != m_tree.string()) {
        GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
    }
    for (const std::string drives : {"X:\\", "X:"}) {
        regtool::ToolRun run = regtool::runTool(kScanner, {"--json", "--full", drives});
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        // With SmartExt 0 the drive's top folder is not filtered.
        std::multiset<std::string> expected = kFoundInFolder;
        expected.insert("readme.txt");
        EXPECT_EQ(foundNames(run.out), expected) << drives << "\n" << run.out;
        EXPECT_TRUE(tempLeftovers().empty());
    }
}

}  // namespace
