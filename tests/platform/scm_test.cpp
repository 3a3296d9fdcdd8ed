// The service control manager over a registry of the test's own and systemd
// unit folders it builds.
#include "platform/scm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/linux/systemd_units.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

constexpr char16_t kServices[] = u"SYSTEM\\CurrentControlSet\\Services";

class ScmTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("ov-scm-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        m_etc = m_dir / "etc";
        m_lib = m_dir / "lib";
        fs::create_directories(m_etc);
        fs::create_directories(m_lib);
        ::setenv("ORVANE_REGISTRY", (m_dir / "registry.db").c_str(), 1);
        ::setenv("ORVANE_SYSTEMD_UNIT_PATH", (m_etc.string() + ":" + m_lib.string()).c_str(), 1);
        resetRegistryConnection();
        ASSERT_EQ(ServiceManager::open(kScManagerAllAccess, m_manager), 0u);
    }
    void TearDown() override {
        m_manager.close();
        resetRegistryConnection();
        ::unsetenv("ORVANE_REGISTRY");
        ::unsetenv("ORVANE_SYSTEMD_UNIT_PATH");
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    void create(const std::u16string& name, const std::u16string& binary,
                uint32_t type = kServiceWin32OwnProcess) {
        ServiceDescription description;
        description.name = name;
        description.binaryPath = binary;
        description.serviceType = type;
        Service service;
        ASSERT_EQ(m_manager.createService(description, kServiceAllAccess, service), 0u);
    }

    static void writeFile(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    // Enumerates with the two-call size protocol.
    std::vector<std::pair<std::u16string, ServiceStatusProcess>> enumerate(uint32_t type) {
        uint32_t needed = 0, returned = 0, resume = 0;
        EXPECT_EQ(
            m_manager.enumServices(type, kServiceStateAll, nullptr, 0, needed, returned, &resume),
            234u);
        EXPECT_EQ(returned, 0u);
        std::vector<std::pair<std::u16string, ServiceStatusProcess>> out;
        if (needed == 0) return out;
        const uint32_t room = needed;
        auto buffer = std::make_unique<uint64_t[]>(room / 8 + 1);
        resume = 0;
        EXPECT_EQ(m_manager.enumServices(type, kServiceStateAll, buffer.get(), room, needed,
                                         returned, &resume),
                  0u);
        auto* records = reinterpret_cast<EnumServiceStatusProcess*>(buffer.get());
        const char* begin = reinterpret_cast<const char*>(buffer.get());
        for (uint32_t i = 0; i < returned; ++i) {
            // Strings lie inside the caller's buffer.
            const char* name = reinterpret_cast<const char*>(records[i].serviceName);
            EXPECT_GE(name, begin);
            EXPECT_LT(name, begin + room);
            out.emplace_back(records[i].serviceName, records[i].status);
        }
        return out;
    }

    fs::path m_dir, m_etc, m_lib;
    ServiceManager m_manager;
};

TEST_F(ScmTest, EnumerationAsksForItsRoomThenFillsIt) {
    create(u"Zeta", u"C:\\Windows\\zeta.exe");
    create(u"alpha", u"\\SystemRoot\\System32\\drivers\\alpha.sys", kServiceKernelDriver);
    create(u"Mid", u"C:\\Windows\\system32\\svchost.exe -k netsvcs", kServiceWin32ShareProcess);
    // A key without Type is not a service.
    RegKey stray;
    ASSERT_EQ(
        RegKey::create(RegRoot::LocalMachine, std::u16string(kServices) + u"\\NotService", stray),
        0u);

    auto all = enumerate(kServiceDriver | kServiceWin32);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].first, u"alpha");
    EXPECT_EQ(all[1].first, u"Mid");
    EXPECT_EQ(all[2].first, u"Zeta");
    EXPECT_EQ(all[0].second.serviceType, kServiceKernelDriver);
    EXPECT_EQ(all[0].second.currentState, kServiceStopped);

    auto win32 = enumerate(kServiceWin32);
    ASSERT_EQ(win32.size(), 2u);
    EXPECT_EQ(win32[0].first, u"Mid");

    uint32_t needed = 0, returned = 0;
    EXPECT_EQ(m_manager.enumServices(kServiceWin32, kServiceActive, nullptr, 0, needed, returned,
                                     nullptr),
              0u);
    EXPECT_EQ(returned, 0u);
}

TEST_F(ScmTest, ASmallBufferResumesWhereItStopped) {
    for (const char16_t* name : {u"s1", u"s2", u"s3", u"s4"}) create(name, u"C:\\x.exe");
    // Room for about one entry at a time.
    const uint32_t room = sizeof(EnumServiceStatusProcess) + 24;
    auto buffer = std::make_unique<uint64_t[]>(room / 8 + 1);
    uint32_t resume = 0, needed = 0, returned = 0;
    std::vector<std::u16string> names;
    for (int round = 0; round < 10; ++round) {
        uint32_t rc = m_manager.enumServices(kServiceWin32, kServiceStateAll, buffer.get(), room,
                                             needed, returned, &resume);
        auto* records = reinterpret_cast<EnumServiceStatusProcess*>(buffer.get());
        for (uint32_t i = 0; i < returned; ++i) names.emplace_back(records[i].serviceName);
        if (rc == 0) break;
        ASSERT_EQ(rc, 234u);
        EXPECT_GT(needed, 0u);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"s1", u"s2", u"s3", u"s4"}));
}

TEST_F(ScmTest, ConfigurationFollowsTheSizeProtocol) {
    ServiceDescription description;
    description.name = u"Orvane Test";
    description.displayName = u"Orvane Test Service";
    description.binaryPath = u"C:\\Program Files\\Orvane\\ovrtsrv.exe";
    description.serviceType = kServiceWin32ShareProcess;
    description.startType = kServiceAutoStart;
    description.dependencies = {u"Tcpip", u"Dnscache"};
    Service created;
    ASSERT_EQ(m_manager.createService(description, kServiceAllAccess, created), 0u);
    Service again;
    EXPECT_EQ(m_manager.createService(description, kServiceAllAccess, again), 1073u);

    Service service;
    ASSERT_EQ(Service::open(m_manager, u"orvane test", kServiceQueryConfig, service), 0u);
    ServiceConfig fixed{};
    uint32_t needed = 0;
    ASSERT_EQ(service.queryConfig(&fixed, sizeof fixed, needed), 122u);
    ASSERT_GT(needed, sizeof fixed);
    auto buffer = std::make_unique<uint64_t[]>(needed / 8 + 1);
    auto* config = reinterpret_cast<ServiceConfig*>(buffer.get());
    ASSERT_EQ(service.queryConfig(config, needed, needed), 0u);
    EXPECT_EQ(config->serviceType, kServiceWin32ShareProcess);
    EXPECT_EQ(config->startType, kServiceAutoStart);
    EXPECT_EQ(config->errorControl, kServiceErrorNormal);
    EXPECT_EQ(std::u16string(config->binaryPathName), description.binaryPath);
    EXPECT_EQ(std::u16string(config->displayName), u"Orvane Test Service");
    EXPECT_EQ(std::u16string(config->serviceStartName), u"LocalSystem");
    EXPECT_EQ(std::u16string(config->loadOrderGroup), u"");
    EXPECT_EQ(std::u16string(config->dependencies), u"Tcpip");
    EXPECT_EQ(std::u16string(config->dependencies + 6), u"Dnscache");
    EXPECT_EQ(config->dependencies[6 + 9], u'\0');

    Service statusOnly;
    ASSERT_EQ(Service::open(m_manager, u"Orvane Test", kServiceQueryStatus, statusOnly), 0u);
    EXPECT_EQ(statusOnly.queryConfig(config, needed, needed), 5u);

    ASSERT_EQ(created.deleteService(), 0u);
    EXPECT_EQ(service.queryConfig(config, 8192, needed), 1060u);
    EXPECT_EQ(Service::open(m_manager, u"Orvane Test", kServiceQueryConfig, service), 1060u);
}

TEST_F(ScmTest, ARecordThatCannotBeReadIsListedButNotQueried) {
    create(u"Good", u"C:\\good.exe");
    RegKey key;
    ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, std::u16string(kServices) + u"\\Broken", key),
              0u);
    uint32_t type = kServiceWin32OwnProcess;
    ASSERT_EQ(key.setValue(u"Type", kRegDword, &type, 4), 0u);
    uint32_t notText = 7;
    ASSERT_EQ(key.setValue(u"ImagePath", kRegDword, &notText, 4), 0u);

    auto all = enumerate(kServiceWin32);
    ASSERT_EQ(all.size(), 2u);
    Service broken;
    ASSERT_EQ(Service::open(m_manager, u"Broken", kServiceQueryConfig, broken), 0u);
    uint32_t needed = 0;
    ServiceConfig fixed{};
    EXPECT_EQ(broken.queryConfig(&fixed, sizeof fixed, needed), 13u);
    EXPECT_EQ(Service::open(m_manager, u"Missing", kServiceQueryConfig, broken), 1060u);
    EXPECT_EQ(Service::open(m_manager, u"a\\b", kServiceQueryConfig, broken), 87u);
}

TEST_F(ScmTest, SystemdUnitsAreListedReadOnlyWithTheirPrograms) {
    writeFile(m_lib / "plain.service",
              "[Unit]\nDescription=Plain daemon\n[Service]\nExecStart=-/usr/sbin/plaind "
              "--foreground \\\n  --verbose\n");
    writeFile(m_lib / "bare.service", "[Service]\nExecStart=sh -c true\n");
    writeFile(m_lib / "over.service", "[Service]\nExecStart=/usr/bin/old\n");
    writeFile(m_etc / "over.service.d" / "10-new.conf",
              "[Service]\nExecStart=\nExecStart=@/opt/new/bin/newd newd\n");
    writeFile(m_lib / "tmpl@.service", "[Service]\nExecStart=/usr/bin/tmpl %i\n");
    writeFile(m_lib / "empty.service", "");  // masked by an empty file
    fs::create_symlink("/dev/null", m_etc / "masked.service");
    writeFile(m_lib / "masked.service", "[Service]\nExecStart=/usr/bin/masked\n");
    fs::create_symlink(m_lib / "plain.service", m_etc / "alias-of-plain.service");
    fs::create_directories(m_etc / "multi-user.target.wants");
    fs::create_symlink(m_lib / "plain.service",
                       m_etc / "multi-user.target.wants" / "plain.service");
    writeFile(m_lib / "not-a-service.timer", "[Timer]\n");
    create(u"Registry", u"C:\\r.exe");

    auto all = enumerate(kServiceWin32);
    std::vector<std::u16string> names;
    for (auto& [name, status] : all) names.push_back(name);
    EXPECT_EQ(names,
              (std::vector<std::u16string>{u"Registry", u"bare.service", u"empty.service",
                                           u"masked.service", u"over.service", u"plain.service"}));

    struct Case {
        const char16_t* name;
        std::string program;  // host path; empty = none
        uint32_t startType;
    };
    std::string sh = detail::execStartProgram("sh");
    ASSERT_FALSE(sh.empty());
    const Case cases[] = {
        {u"plain.service", "/usr/sbin/plaind", kServiceAutoStart},
        {u"bare.service", sh, kServiceDemandStart},
        {u"over.service", "/opt/new/bin/newd", kServiceDemandStart},
        {u"masked.service", "", kServiceDisabled},
        {u"empty.service", "", kServiceDisabled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        Service service;
        ASSERT_EQ(Service::open(m_manager, c.name, kServiceQueryConfig, service), 0u);
        EXPECT_TRUE(service.isSystemdUnit());
        ServiceDescription description;
        ASSERT_EQ(service.queryDescription(description), 0u);
        EXPECT_EQ(description.binaryPath,
                  c.program.empty() ? std::u16string() : toWindowsPath(c.program));
        EXPECT_EQ(description.startType, c.startType);
        EXPECT_EQ(description.serviceType, kServiceWin32OwnProcess);
        Service writable;
        EXPECT_EQ(Service::open(m_manager, c.name, kServiceAllAccess, writable), 5u);
    }
    Service plain;
    ASSERT_EQ(Service::open(m_manager, u"plain.service", kServiceQueryConfig, plain), 0u);
    ServiceDescription description;
    ASSERT_EQ(plain.queryDescription(description), 0u);
    EXPECT_EQ(description.displayName, u"Plain daemon");
    Service none;
    EXPECT_EQ(Service::open(m_manager, u"alias-of-plain.service", kServiceQueryConfig, none),
              1060u);
    EXPECT_EQ(Service::open(m_manager, u"tmpl@.service", kServiceQueryConfig, none), 1060u);
}

TEST(ExecStartProgram, TakesTheProgramOfTheCommandLine) {
    const struct {
        const char* value;
        const char* program;
    } cases[] = {
        {"/usr/bin/a --x", "/usr/bin/a"},
        {"-/usr/bin/a", "/usr/bin/a"},
        {"@/usr/bin/a a-name", "/usr/bin/a"},
        {"+!!/usr/bin/a", "/usr/bin/a"},
        {"\"/opt/with space/a\" -x", "/opt/with space/a"},
        {"/opt/with\\ space/a -x", "/opt/with space/a"},
        {"relative/a", ""},
        {"no-such-program-anywhere", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detail::execStartProgram(c.value), c.program) << c.value;
    }
}

TEST(ScmHost, UnitsOfThisMachineNameTheirProgramsByAbsolutePath) {
    ::unsetenv("ORVANE_SYSTEMD_UNIT_PATH");
    std::vector<detail::SystemdUnit> units = detail::listSystemdUnits();
    if (units.empty()) GTEST_SKIP() << "this machine has no systemd unit files";
    for (const detail::SystemdUnit& unit : units) {
        EXPECT_TRUE(unit.name.size() > 8 && unit.name.find("@.") == std::string::npos) << unit.name;
        if (!unit.program.empty()) {
            EXPECT_EQ(unit.program.front(), '/') << unit.name;
        }
    }
}

}  // namespace
