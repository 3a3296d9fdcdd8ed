// orvane-setup --system and --uninstall in a sandbox: the root, the menu,
// polkit and icon folders all point into a temporary folder, so the
// machine's own /opt and /usr/share are never touched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "tools/registry_tool_support.h"

namespace fs = std::filesystem;
using platform::RegKey;
using platform::RegRoot;
using regtool::EnvironmentValue;
using regtool::runTool;

namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

fs::perms modeOf(const fs::path& path) {
    return fs::symlink_status(path).permissions() & fs::perms::mask;
}

class SystemInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "a system install needs root";
        m_root = fs::path(m_dir.path()) / "opt orvane";
        m_share = fs::path(m_dir.path()) / "share";
        unsetenv("ORVANE_REGISTRY");
        platform::resetRegistryConnection();
    }
    void TearDown() override {
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
    }
    regtool::ToolRun setup(std::vector<std::string> args) {
        args.push_back("--root");
        args.push_back(m_root.string());
        return runTool("orvane-setup", args);
    }
    // Reads the installation's registry from the test process; released
    // before the tool runs again.
    void useInstalledRegistry() {
        setenv("ORVANE_REGISTRY", (m_root / "registry.db").c_str(), 1);
        platform::resetRegistryConnection();
    }
    void releaseRegistry() {
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
    }
    uint32_t serviceStatus(platform::ServiceDescription& description) {
        platform::ServiceManager manager;
        uint32_t rc = platform::ServiceManager::open(platform::kScManagerConnect, manager);
        if (rc != 0) return rc;
        platform::Service service;
        rc = platform::Service::open(manager, u"Orvane Service", platform::kServiceQueryConfig,
                                     service);
        if (rc != 0) return rc;
        return service.queryDescription(description);
    }
    fs::path desktopEntry() const { return m_share / "applications" / "orvane.desktop"; }
    fs::path polkitAction() const {
        return m_share / "polkit-1" / "actions" / "org.orvane.app.policy";
    }
    fs::path icon() const {
        return m_share / "icons" / "hicolor" / "scalable" / "apps" / "orvane.svg";
    }

    regtool::TempFolder m_dir;
    fs::path m_root;
    fs::path m_share;
    EnvironmentValue m_applications{"ORVANE_APPLICATIONS_DIR",
                                    std::string(m_dir.path()) + "/share/applications"};
    EnvironmentValue m_polkit{"ORVANE_POLKIT_ACTIONS_DIR",
                              std::string(m_dir.path()) + "/share/polkit-1/actions"};
    EnvironmentValue m_icons{"ORVANE_ICONS_DIR",
                             std::string(m_dir.path()) + "/share/icons/hicolor"};
};

TEST_F(SystemInstallTest, CreatesTheEntriesTheModesAndTheServiceRecord) {
    auto run = setup({"--system"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    // The menu starts the installed application through pkexec (the path
    // has a blank, so it is quoted as desktop entries quote).
    const std::string program = (m_root / "bin" / "Orvane").string();
    const std::string entry = readText(desktopEntry());
    EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nName=Orvane\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nExec=pkexec \"" + program + "\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=orvane\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nTerminal=false\n"), std::string::npos) << entry;

    // The polkit action lets exactly that program open windows as root.
    const std::string action = readText(polkitAction());
    EXPECT_NE(action.find("<action id=\"org.orvane.app\">"), std::string::npos) << action;
    EXPECT_NE(action.find("<annotate key=\"org.freedesktop.policykit.exec.path\">" + program +
                          "</annotate>"),
              std::string::npos)
        << action;
    EXPECT_NE(action.find("<annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true"),
              std::string::npos);
    EXPECT_NE(action.find("<allow_active>auth_admin_keep</allow_active>"), std::string::npos);
    EXPECT_NE(readText(icon()).find("<svg"), std::string::npos);
    // What the desktop and polkit read must parse as theirs.
    if (fs::exists("/usr/bin/desktop-file-validate")) {
        auto valid = runTool("/usr/bin/desktop-file-validate", {desktopEntry().string()});
        EXPECT_EQ(valid.exitCode, 0) << valid.out << valid.err;
        EXPECT_EQ(valid.out + valid.err, "");
    }
    for (const fs::path& xml : {polkitAction(), icon()}) {
        auto parsed =
            runTool("/usr/bin/python3",
                    {"-c", "import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])",
                     xml.string()});
        EXPECT_EQ(parsed.exitCode, 0) << xml << "\n" << parsed.err;
    }
    for (const fs::path& file : {desktopEntry(), polkitAction(), icon()})
        EXPECT_EQ(modeOf(file), fs::perms(0644)) << file;

    // Data folders and the registry are root's alone; nobody else may change
    // the programs root runs.
    for (const char* folder : {"data", "logs", "jobs", "infected"})
        EXPECT_EQ(modeOf(m_root / folder), fs::perms(0700)) << folder;
    EXPECT_EQ(modeOf(m_root / "registry.db"), fs::perms(0600));
    const fs::perms othersWrite = fs::perms::group_write | fs::perms::others_write;
    EXPECT_EQ(modeOf(m_root / "bin") & othersWrite, fs::perms::none);
    for (const auto& file : fs::directory_iterator(m_root / "bin")) {
        if (file.is_symlink()) continue;
        EXPECT_EQ(modeOf(file.path()) & othersWrite, fs::perms::none) << file.path();
    }

    // The service is registered as the application registers it.
    useInstalledRegistry();
    platform::ServiceDescription service;
    ASSERT_EQ(serviceStatus(service), 0u);
    EXPECT_EQ(service.binaryPath, platform::toWindowsPath((m_root / "bin" / "ovrtsrv").string()));
    EXPECT_EQ(service.displayName, u"Orvane Service");
    EXPECT_EQ(service.serviceType, platform::kServiceWin32ShareProcess);
    EXPECT_EQ(service.startType, platform::kServiceAutoStart);
    EXPECT_EQ(service.errorControl, platform::kServiceErrorNormal);
    uint32_t serviceState = 99;
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, names::kSettingsKey, u"ServiceState",
                                  serviceState),
              0u);
    EXPECT_EQ(serviceState, 0u);
}

TEST_F(SystemInstallTest, RunningAgainKeepsWhatTheUserChanged) {
    ASSERT_EQ(setup({"--system"}).exitCode, 0);
    useInstalledRegistry();
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, names::kSettingsKey, u"SmartExt", 0), 0u);
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, names::kSettingsKey, u"ServiceState", 1),
              0u);
    // The user set the service to start on demand only.
    RegKey record;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine,
                           u"SYSTEM\\CurrentControlSet\\Services\\Orvane Service", record),
              0u);
    const uint32_t demand = platform::kServiceDemandStart;
    ASSERT_EQ(record.setValue(u"Start", platform::kRegDword, &demand, 4), 0u);
    releaseRegistry();
    {
        std::ofstream db(m_root / "data" / "hashdb.dbf", std::ios::binary | std::ios::trunc);
        db << "own database";
    }
    fs::remove(desktopEntry());

    auto run = setup({"--system"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("kept as registered"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(desktopEntry()));
    EXPECT_EQ(readText(m_root / "data" / "hashdb.dbf"), "own database");
    useInstalledRegistry();
    uint32_t v = 99;
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, names::kSettingsKey, u"SmartExt", v), 0u);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, names::kSettingsKey, u"ServiceState", v),
              0u);
    EXPECT_EQ(v, 1u);
    platform::ServiceDescription service;
    ASSERT_EQ(serviceStatus(service), 0u);
    EXPECT_EQ(service.startType, platform::kServiceDemandStart);
}

TEST_F(SystemInstallTest, UninstallRemovesServiceAndEntriesAndKeepsTheData) {
    ASSERT_EQ(setup({"--system"}).exitCode, 0);
    {
        std::ofstream record(m_root / "infected" / "finding.ovm", std::ios::binary);
        record << "quarantined";
        std::ofstream log(m_root / "logs" / "Orvane_report.log", std::ios::binary);
        log << "report";
    }

    auto run = setup({"--uninstall"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Service: Orvane Service removed"), std::string::npos) << run.out;
    for (const fs::path& file : {desktopEntry(), polkitAction(), icon()})
        EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_EQ(readText(m_root / "infected" / "finding.ovm"), "quarantined");
    EXPECT_EQ(readText(m_root / "logs" / "Orvane_report.log"), "report");
    EXPECT_TRUE(fs::exists(m_root / "data" / "hashdb.dbf"));
    EXPECT_TRUE(fs::exists(m_root / "registry.db"));
    useInstalledRegistry();
    platform::ServiceDescription service;
    EXPECT_EQ(serviceStatus(service), 1060u);
    uint32_t v = 99;
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, names::kSettingsKey, u"SmartExt", v), 0u);
    EXPECT_EQ(v, 1u);
    releaseRegistry();

    // Once more is harmless; --purge then takes the data too, not the programs.
    run = setup({"--uninstall", "--purge"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("was not registered"), std::string::npos) << run.out;
    for (const char* gone : {"data", "logs", "jobs", "infected", "registry.db"})
        EXPECT_FALSE(fs::exists(m_root / gone)) << gone;
    EXPECT_TRUE(fs::exists(m_root / "bin" / "orvane-setup"));
}

TEST_F(SystemInstallTest, RefusesMisusedOptions) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--purge"}, "--purge goes with --uninstall"},
        {{"--system", "--uninstall"}, "--system and --uninstall exclude each other"},
    };
    for (const Case& c : cases) {
        auto run = setup(c.args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(std::string("ERROR: ") + c.message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(m_root));
}

// As a normal user both modes stop at once and say how to run them.
TEST_F(SystemInstallTest, WithoutRootSaysHowToRunIt) {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    if (access(OV_BIN_DIR "/orvane-setup", X_OK) != 0) GTEST_SKIP() << "no orvane-setup";
    for (const char* mode : {"--system", "--uninstall"}) {
        auto run = runTool("/usr/bin/setpriv",
                           {"--reuid=65534", "--regid=65534", "--clear-groups",
                            OV_BIN_DIR "/orvane-setup", mode, "--root", m_root.string()});
        if (run.err.find("Permission denied") != std::string::npos)
            GTEST_SKIP() << "the build folder is not open to other users: " << run.err;
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        EXPECT_NE(
            run.err.find(std::string("needs root: run it as 'sudo orvane-setup ") + mode + "'"),
            std::string::npos)
            << run.err;
    }
    EXPECT_FALSE(fs::exists(m_root));
    EXPECT_FALSE(fs::exists(m_share));
}

}  // namespace
