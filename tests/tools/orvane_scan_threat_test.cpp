// orvane-scan --threat end to end: the built program and engine over a
// sandbox system drive mapped as C:, with a registry, a boot-sector image and
// a hash database of the test's own; the machine's own processes, services
// and drivers as they are.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "shared/stored_database.h"
#include "tools/child_run_support.h"
#include "tools/registry_tool_support.h"
#include "tools/tools_test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kScanner = std::string(OV_BIN_DIR) + "/orvane-scan";

using regtool::EnvironmentValue;

// A threat scan with every location on and the Debug setting writing each
// trace is the longest run of the tool tests.
constexpr std::chrono::seconds kScanDeadline{240};

tooltest::ChildResult runScanner(const std::vector<std::string>& args) {
    return tooltest::runChild({kScanner, args, "", kScanDeadline});
}

// The values of one JSON string field, unescaped, in order.
std::vector<std::string> jsonField(const std::string& json, const std::string& field) {
    std::vector<std::string> values;
    const std::string key = "\"" + field + "\":\"";
    for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        std::string value;
        for (size_t i = at + key.size(); i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\' && i + 1 < json.size()) ++i;
            value += json[i];
        }
        values.push_back(value);
    }
    return values;
}

class OrvaneScanThreat : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kScanner) || !fs::exists(std::string(OV_BIN_DIR) + "/libov_core.so")) {
            GTEST_SKIP() << "orvane-scan and libov_core.so are not built";
        }
        m_root = m_folder.path();
        m_c = m_root / "c";
        for (const fs::path& sub :
             {m_root / "bin", m_root / "data", m_root / "logs", m_root / "temp", m_c}) {
            fs::create_directories(sub);
        }
        m_registry.emplace("ORVANE_REGISTRY", (m_root / "registry.db").string());
        m_tmpdir.emplace("TMPDIR", (m_root / "temp").string());
        platform::resetRegistryConnection();
        ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey,
                                        u"\\DosDevices\\C:", platform::toUtf16(m_c.string())),
                  0u);
        if (platform::driveRoot(u'C') != m_c.string()) {
            GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
        }
        ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                        names::kValuePath,
                                        platform::toWindowsPath((m_root / "bin").string())),
                  0u);
        ASSERT_EQ(platform::userName(m_user), 0u);
    }
    void TearDown() override {
        m_registry.reset();
        m_tmpdir.reset();
        platform::resetRegistryConnection();
    }

    void setSetting(const char16_t* name, uint32_t value) {
        ASSERT_EQ(
            platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value),
            0u);
    }
    void write(const fs::path& file, const std::string& content) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    }
    void addHashOf(const fs::path& file) {
        m_hashes.push_back(toolstest::Md5Upper(file));
        std::string error;
        ASSERT_TRUE(ovtest::writeDatabaseFile(m_root / "data" / "hashdb.dbf",
                                              ovtest::databaseText(m_hashes), error))
            << error;
    }
    void plant(const fs::path& file, const std::string& content) {
        write(file, content);
        addHashOf(file);
    }

    regtool::TempFolder m_folder;
    fs::path m_root;
    fs::path m_c;
    std::u16string m_user;
    std::optional<EnvironmentValue> m_registry;
    std::optional<EnvironmentValue> m_tmpdir;
    std::vector<std::string> m_hashes;
};

// The one end-to-end threat scan on this machine: its own processes,
// services and drivers are scanned as they are.
TEST_F(OrvaneScanThreat, OnThisMachineFindsThePlantedThreatsAndAnnouncesEveryLocation) {
    const std::string user = platform::toUtf8(m_user);
    const fs::path startup =
        m_c / "Users" / user / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Startup";
    plant(startup / "autorun.exe", "planted start-up program");
    plant(m_c / "Program Files/Tool/tool.exe", "planted program of a Run value");
    write(m_c / "Users" / user / "Favorites/clean.exe", "a clean file");
    ASSERT_EQ(platform::writeString(platform::RegRoot::CurrentUser,
                                    u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"Tool",
                                    u"C:\\Program Files\\Tool\\tool.exe /tray"),
              0u);
    // The boot sector of an image standing in for the first disk.
    std::string image(64 * 1024, '\0');
    std::string sector(512, '\0');
    for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<char>(0xA5 ^ i);
    image.replace(2560, 512, sector);
    write(m_root / "disk.img", image);
    write(m_root / "sector.bin", sector);
    addHashOf(m_root / "sector.bin");
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey,
                                    u"\\\\.\\PhysicalDrive0",
                                    platform::toUtf16((m_root / "disk.img").string())),
              0u);
    for (const char16_t* flag :
         {names::kScanStartup, names::kScanSrvDrv, names::kScanPageFile, names::kScanMBR,
          names::kScanSysRestore, names::kHidden, names::kScanFav, names::kDebug}) {
        setSetting(flag, 1);
    }

    tooltest::ChildResult run = runScanner({"--json", "--threat"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    const std::vector<std::string> paths = jsonField(run.out, "path");
    const std::multiset<std::string> found(paths.begin(), paths.end());
    const std::string runLocation =
        "DoScanRegistryLocations: HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
        "CurrentVersion\\Run\\Tool";
    const std::multiset<std::string> expected = {
        platform::toUtf8(
            platform::toLower(platform::toWindowsPath((startup / "autorun.exe").string()))),
        "c:\\program files\\tool\\tool.exe",
        "MBR",
    };
    EXPECT_EQ(found, expected) << run.out;
    EXPECT_EQ(jsonField(run.out, "location"), std::vector<std::string>{runLocation}) << run.out;
    // On this machine no process hides from the process list.
    EXPECT_NE(run.out.find("\"hiddenProcesses\":0,"), std::string::npos) << run.out;

    // With Debug on, the report log holds each announcement, in order.
    const std::vector<std::string> reports = jsonField(run.out, "report");
    ASSERT_EQ(reports.size(), 1u) << run.out;
    std::ifstream in(reports[0], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string log = text.str();
    size_t at = 0;
    for (const char* announcement :
         {"Startup Locations...", "Services & Drivers...", "Page File...", "Scanning PageFile ...",
          "Partition-MBR...", "Scanning Partition MBR ...", "Restore Point Location...",
          "Scanning Restore Location ...", "Hiddend Process (Rootkits)...", "Browser Favorite ...",
          "Favorite Location ...", "Temp Folders...", "Coockies Folders...", "Cookies Location ...",
          "Running Process...", "Registry Keys...", "Typical Malware Location..."}) {
        size_t next = log.find(announcement, at);
        EXPECT_NE(next, std::string::npos) << announcement;
        if (next != std::string::npos) at = next;
    }
}

}  // namespace
