#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/registry_tool_support.h"

namespace fs = std::filesystem;
using platform::RegKey;
using platform::RegRoot;
using regtool::runTool;

namespace {

class OrvaneSetupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        m_root = m_dir.path() + "/Orvane Root";
        unsetenv("ORVANE_REGISTRY");
        platform::resetRegistryConnection();
    }
    void TearDown() override {
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
    }
    // Reads this installation's registry from the test process.
    void useInstalledRegistry() {
        setenv("ORVANE_REGISTRY", (m_root + "/registry.db").c_str(), 1);
        platform::resetRegistryConnection();
    }
    std::string raw(const char16_t* key, const char16_t* name, uint32_t& type) {
        RegKey k;
        if (RegKey::open(RegRoot::LocalMachine, key, k) != 0) return "<no key>";
        uint32_t size = 0;
        if (k.queryValue(name, &type, nullptr, &size) != 0) return "<no value>";
        std::string data(size, '\0');
        if (k.queryValue(name, &type, data.data(), &size) != 0) return "<unreadable>";
        return data;
    }
    static std::string utf16(std::u16string_view text, size_t padTo) {
        std::string out;
        for (char16_t c : text) {
            out += char(c & 0xFF);
            out += char(c >> 8);
        }
        out.append(2, '\0');
        if (out.size() < padTo) out.resize(padTo, '\0');
        return out;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    regtool::TempFolder m_dir;
    std::string m_root;
};

TEST_F(OrvaneSetupTest, InstallsFoldersProgramsRegistryAndDatabase) {
    auto run = runTool("orvane-setup", {"--root", m_root});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("set up in " + m_root), std::string::npos) << run.out;

    for (const char* folder : {"bin", "data", "logs", "jobs", "infected"})
        EXPECT_TRUE(fs::is_directory(m_root + "/" + folder)) << folder;
    EXPECT_TRUE(fs::exists(m_root + "/bin/ovreg"));
    EXPECT_TRUE(fs::exists(m_root + "/bin/libovplatform.so"));
    EXPECT_TRUE(fs::exists(m_root + "/registry.db"));

    useInstalledRegistry();
    const std::u16string windowsBin = platform::toWindowsPath(m_root + "/bin");
    ASSERT_FALSE(windowsBin.empty());
    uint32_t type = 0;
    EXPECT_EQ(raw(names::kProductKey, u"Path", type), utf16(windowsBin, 512));
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(raw(names::kProductKey, u"Version", type), utf16(u"1.0.1.310", 0));
    EXPECT_EQ(type, platform::kRegSz);
    std::string record = raw(names::kDataKey, u"data", type);
    EXPECT_EQ(type, platform::kRegBinary);
    EXPECT_EQ(record.size(), 2048u);
    EXPECT_EQ(record, utf16(u"0|0||", 2048));
    EXPECT_EQ(raw(names::kDataKey, u"sched", type), std::string(2, '\0'));
    EXPECT_EQ(type, platform::kRegSz);

    struct Setting {
        const char16_t* name;
        uint32_t value;
    };
    const Setting expected[] = {
        {u"SmartExt", 1},
        {u"ScanArchives", 1},
        {u"ScanStartup", 1},
        {u"ScanSrvDrv", 1},
        {u"ScanMBR", 1},
        {u"Hidden", 1},
        {u"IgnoreLarageFiles", 1},
        {u"CheckUpdates", 1},
        {u"Debug", 0},
        {u"ServiceState", 0},
        {u"CloseBrowsers", 0},
        {u"SendStatistics", 0},
        {u"ScanPageFile", 0},
        {u"ScanSysRestore", 0},
        {u"CatchExt", 0},
        {u"Deep", 0},
        {u"ScanFav", 0},
        {u"Monitoring", 0},
        {u"Startup", 0},
    };
    for (const auto& s : expected) {
        SCOPED_TRACE(platform::toUtf8(s.name));
        uint32_t v = 99;
        EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, names::kSettingsKey, s.name, v), 0u);
        EXPECT_EQ(v, s.value);
        raw(names::kSettingsKey, s.name, type);
        EXPECT_EQ(type, platform::kRegDword);
    }
    EXPECT_EQ(raw(names::kSettingsKey, u"FeedBack", type), std::string(4, '\0'));
    EXPECT_EQ(type, 16u);

    EXPECT_EQ(names::unscrambleDatabaseText(readFile(m_root + "/data/hashdb.dbf")),
              "44D88612FEA8A8F36DE82E1278ABB02F\r\n");

    // Another program reading the same file sees the program folder.
    run = runTool("ovreg", {"query", "HKLM\\SOFTWARE\\Orvane\\Wardline", "/v", "Path"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\n    Path    REG_EXPAND_SZ    " +
                  platform::toUtf8(windowsBin) + "\n\n");
}

TEST_F(OrvaneSetupTest, RunningAgainKeepsTheUsersValuesAndAddsWhatIsMissing) {
    ASSERT_EQ(runTool("orvane-setup", {"--root", m_root}).exitCode, 0);
    useInstalledRegistry();
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, names::kSettingsKey, u"SmartExt", 0), 0u);
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, names::kSettingsKey, u"Deep", 1), 0u);
    RegKey product;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, names::kProductKey, product), 0u);
    ASSERT_EQ(product.deleteValue(u"Version"), 0u);
    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, names::kProductKey, u"Path",
                                    u"C:\\moved\\elsewhere\\bin", platform::kRegExpandSz),
              0u);
    {
        std::ofstream db(m_root + "/data/hashdb.dbf", std::ios::binary | std::ios::trunc);
        db << "own database";
    }
    platform::resetRegistryConnection();
    unsetenv("ORVANE_REGISTRY");

    // The installed copy, without --root, sets up its own installation.
    auto run = runTool(m_root + "/bin/orvane-setup", {});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Programs: already in"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(updated)"), std::string::npos) << run.out;

    useInstalledRegistry();
    uint32_t v = 99;
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, names::kSettingsKey, u"SmartExt", v), 0u);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, names::kSettingsKey, u"Deep", v), 0u);
    EXPECT_EQ(v, 1u);
    uint32_t type = 0;
    EXPECT_EQ(raw(names::kProductKey, u"Version", type), utf16(u"1.0.1.310", 0));
    EXPECT_EQ(raw(names::kProductKey, u"Path", type),
              utf16(platform::toWindowsPath(m_root + "/bin"), 512));
    EXPECT_EQ(raw(names::kDataKey, u"data", type).size(), 2048u);
    EXPECT_EQ(readFile(m_root + "/data/hashdb.dbf"), "own database");
}

TEST_F(OrvaneSetupTest, RejectsUnknownArguments) {
    auto run = runTool("orvane-setup", {"--bogus"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("ERROR: unknown argument --bogus"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(m_root));
}

}  // namespace
