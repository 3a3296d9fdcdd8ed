// Loaded kernel modules and their files, from lists the test writes and
// from this machine.
#include "platform/drivers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/path.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

class DriversTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("ov-drivers-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "modules");
        ::setenv("ORVANE_REGISTRY", (m_dir / "registry.db").c_str(), 1);
        resetRegistryConnection();
        m_sources.modulesList = (m_dir / "proc-modules").string();
        m_sources.modulesRoot = (m_dir / "modules").string();
    }
    void TearDown() override {
        resetRegistryConnection();
        ::unsetenv("ORVANE_REGISTRY");
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

    fs::path m_dir;
    DriverSources m_sources;
};

TEST_F(DriversTest, ListsModulesWithTheirAddresses) {
    write(m_sources.modulesList,
          "snd_hda_intel 61440 2 - Live 0xffffffffc0a00000\n"
          "ext4 1069056 1 mbcache,jbd2, Live 0x0000000000000000\n"
          "vboxdrv 696320 0 - Live 0xffffffffc0b00000 (OE)\n");
    std::vector<LoadedDriver> drivers;
    ASSERT_EQ(listLoadedDrivers(drivers, m_sources), 0u);
    ASSERT_EQ(drivers.size(), 3u);
    EXPECT_EQ(drivers[0].name, "snd_hda_intel");
    EXPECT_EQ(drivers[0].loadAddress, 0xffffffffc0a00000ull);
    EXPECT_EQ(drivers[1].name, "ext4");
    EXPECT_EQ(drivers[1].loadAddress, 0u);
    EXPECT_EQ(drivers[2].name, "vboxdrv");

    DriverSources missing = m_sources;
    missing.modulesList = (m_dir / "absent").string();
    EXPECT_EQ(listLoadedDrivers(drivers, missing), 2u);
}

TEST_F(DriversTest, FilesComeFromModulesDep) {
    write(m_dir / "modules" / "modules.dep",
          "kernel/sound/pci/hda/snd-hda-intel.ko.zst: kernel/sound/core/snd.ko.zst\n"
          "kernel/fs/ext4/ext4.ko.xz: kernel/fs/mbcache.ko.xz\n"
          "/opt/extra/vboxdrv.ko:\n"
          "kernel/odd/notamodule.txt:\n");
    DriverFiles files;
    ASSERT_EQ(DriverFiles::load(m_sources, files), 0u);
    const struct {
        const char* module;
        std::string host;  // empty = no file
    } cases[] = {
        {"snd_hda_intel", m_sources.modulesRoot + "/kernel/sound/pci/hda/snd-hda-intel.ko.zst"},
        {"snd-hda-intel", m_sources.modulesRoot + "/kernel/sound/pci/hda/snd-hda-intel.ko.zst"},
        {"ext4", m_sources.modulesRoot + "/kernel/fs/ext4/ext4.ko.xz"},
        {"vboxdrv", "/opt/extra/vboxdrv.ko"},
        {"notamodule", ""},
        {"builtin_thing", ""},
    };
    for (const auto& c : cases) {
        std::u16string path;
        uint32_t rc = files.fileName(c.module, path);
        if (c.host.empty()) {
            EXPECT_EQ(rc, 2u) << c.module;
        } else {
            ASSERT_EQ(rc, 0u) << c.module;
            EXPECT_EQ(path, toWindowsPath(c.host)) << c.module;
        }
    }

    DriverSources noDep = m_sources;
    noDep.modulesRoot = (m_dir / "nowhere").string();
    DriverFiles empty;
    EXPECT_NE(DriverFiles::load(noDep, empty), 0u);
    std::u16string path;
    EXPECT_EQ(empty.fileName("ext4", path), 2u);
}

TEST_F(DriversTest, ThisMachineListsItsModules) {
    std::vector<LoadedDriver> drivers;
    ASSERT_EQ(listLoadedDrivers(drivers), 0u);
    if (drivers.empty()) GTEST_SKIP() << "this kernel has no loadable modules loaded";
    DriverFiles files;
    if (DriverFiles::load({}, files) != 0) GTEST_SKIP() << "no modules.dep for this kernel";
    for (const LoadedDriver& driver : drivers) {
        std::u16string path;
        if (files.fileName(driver.name, path) == 0) {
            EXPECT_TRUE(fs::exists(toHostPath(path))) << driver.name;
        }
    }
}

}  // namespace
