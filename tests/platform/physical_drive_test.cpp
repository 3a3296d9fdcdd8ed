// Physical drive 0: an image file named in the registry, or the first whole
// disk of this machine.
#include "platform/physical_drive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

constexpr char16_t kMounted[] = u"SYSTEM\\MountedDevices";
constexpr char16_t kDrive0[] = u"\\\\.\\PhysicalDrive0";

class PhysicalDriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("ov-disk-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        ::setenv("ORVANE_REGISTRY", (m_dir / "registry.db").c_str(), 1);
        resetRegistryConnection();
    }
    void TearDown() override {
        resetRegistryConnection();
        ::unsetenv("ORVANE_REGISTRY");
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path m_dir;
};

TEST_F(PhysicalDriveTest, AnImageFileNamedInTheRegistryIsDriveZero) {
    std::string image(8192, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i / 512 + 1);
    fs::path file = m_dir / "disk.img";
    std::ofstream(file, std::ios::binary) << image;
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kMounted, kDrive0, toUtf16(file.string())), 0u);

    PhysicalDrive drive;
    ASSERT_EQ(PhysicalDrive::open(0, drive), 0u);
    EXPECT_EQ(drive.hostPath(), file.string());
    char sector[512];
    uint32_t got = 0;
    ASSERT_EQ(drive.readAt(2560, sector, sizeof sector, got), 0u);
    ASSERT_EQ(got, 512u);
    EXPECT_EQ(sector[0], 6);  // the sixth sector
    EXPECT_EQ(sector[511], 6);
    ASSERT_EQ(drive.readAt(8000, sector, sizeof sector, got), 0u);
    EXPECT_EQ(got, 192u);  // short at the end

    // A Windows-form value names the same file.
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kMounted, kDrive0, toWindowsPath(file.string())),
              0u);
    ASSERT_EQ(PhysicalDrive::open(0, drive), 0u);
    EXPECT_EQ(drive.hostPath(), file.string());
}

TEST_F(PhysicalDriveTest, WhatCannotBeReadAsADiskIsRefused) {
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kMounted, kDrive0,
                          toUtf16((m_dir / "missing.img").string())),
              0u);
    PhysicalDrive drive;
    EXPECT_EQ(PhysicalDrive::open(0, drive), 2u);
    EXPECT_FALSE(drive.isOpen());

    fs::path fifo = m_dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(writeString(RegRoot::LocalMachine, kMounted, kDrive0, toUtf16(fifo.string())), 0u);
    EXPECT_EQ(PhysicalDrive::open(0, drive), 5u);  // and does not block

    char byte;
    uint32_t got = 0;
    EXPECT_EQ(drive.readAt(0, &byte, 1, got), 6u);
}

TEST_F(PhysicalDriveTest, WithoutAnImageTheFirstWholeDiskIsUsed) {
    std::string host = physicalDriveHostPath(0);
    if (host.empty()) GTEST_SKIP() << "this machine has no whole disk in /sys/block";
    EXPECT_EQ(host.rfind("/dev/", 0), 0u);
    EXPECT_EQ(host.find("/dev/loop"), std::string::npos);
    EXPECT_EQ(host.find("/dev/ram"), std::string::npos);
    EXPECT_EQ(host.find("/dev/zram"), std::string::npos);
    PhysicalDrive drive;
    uint32_t rc = PhysicalDrive::open(0, drive);
    if (rc == 5) GTEST_SKIP() << "no right to read " << host;
    ASSERT_EQ(rc, 0u);
    char sector[512];
    uint32_t got = 0;
    EXPECT_EQ(drive.readAt(2560, sector, sizeof sector, got), 0u);
    EXPECT_EQ(got, 512u);
}

}  // namespace
