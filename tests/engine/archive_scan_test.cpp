#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/walker_sandbox_support.h"
#include "platform/path.h"
#include "platform/process.h"

using namespace walker_test;
using namespace std::chrono_literals;

namespace {

class ArchiveScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveArchiver()) GTEST_SKIP() << "/usr/bin/7zz (package 7zip) is not installed";
        m_drive = m_box.folder("drive");
        m_work = m_box.folder("work");
        if (!m_box.mapDrive('X', m_drive)) {
            GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
        }
        m_box.setSetting(names::kSmartExt, 0);
        m_box.setSetting(names::kScanArchives, 1);
    }
    void TearDown() override {
        if (haveArchiver()) {
            EXPECT_TRUE(m_box.tempLeftovers().empty()) << "an extraction folder was left behind";
        }
    }

    // A folder of the work area with one planted member, archived.
    fs::path archiveOf(const std::string& name, const std::string& member,
                       const std::string& content, const std::string& type) {
        const fs::path from = m_box.folder("work/" + name + ".d");
        m_box.plant(from / member, content);
        const fs::path archive = m_work / name;
        EXPECT_TRUE(makeArchive(archive, from, {member}, type)) << name;
        return archive;
    }

    ScanSandbox m_box;
    fs::path m_drive;
    fs::path m_work;
};

// With ScanArchives 1 the contents are found and the archive itself is not
// hashed; with 0 the archive is a file like any other.
TEST_F(ArchiveScan, ContentsFoundOnlyWithScanArchives) {
    for (const std::string type : {"zip", "7z"}) {
        const fs::path archive =
            archiveOf("box." + type, "payload.exe", "payload in " + type, type);
        fs::copy_file(archive, m_drive / archive.filename());
        m_box.plantExisting(archive);
    }
    struct Case {
        uint32_t scanArchives;
        int members;
        int archives;
    } cases[] = {{1, 1, 0}, {0, 0, 1}};
    for (const auto& c : cases) {
        m_box.setSetting(names::kScanArchives, c.scanArchives);
        ScanRecord record = m_box.runFull(u"X:\\");
        // A member is reported under the archive on disk, the member named
        // in the location text.
        EXPECT_EQ(record.memberFindings("payload.exe"), 2 * c.members) << c.scanArchives;
        EXPECT_EQ(record.findings("x:\\box.zip"), 1) << c.scanArchives;
        EXPECT_EQ(record.findings("x:\\box.7z"), 1) << c.scanArchives;
        EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
        if (c.scanArchives == 1) {
            EXPECT_TRUE(record.traced("FindF: Scan In Archive: x:\\box.zip "));
            EXPECT_TRUE(record.traced(" ExtractDlFile:: Ended OK, Search Path: "));
        }
    }
}

// A blank in the archive's name or folder does not keep it from the archiver,
// and two archives in one scan are each extracted apart: every member is
// found once, never again with the next archive.
TEST_F(ArchiveScan, EveryArchiveExtractedApartWhateverItsName) {
    const fs::path first = archiveOf("my archive.zip", "one.exe", "first member", "zip");
    const fs::path second = archiveOf("other.zip", "two.exe", "second member", "zip");
    fs::copy_file(first, m_box.folder("drive/with blank") / first.filename());
    fs::copy_file(second, m_drive / second.filename());
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_EQ(record.memberFindings("one.exe"), 1);
    EXPECT_EQ(record.memberFindings("two.exe"), 1);
    // Each member is matched exactly once: an output folder shared between
    // archives would show the first member again with the second archive.
    EXPECT_EQ(record.infected.size(), 2u);
}

TEST_F(ArchiveScan, NestingIsFollowedToItsLimitAndEnds) {
    // Eight levels are followed; a ninth is not extracted.
    auto nest = [&](const std::string& name, int levels, const std::string& content) {
        const fs::path level = m_box.folder("work/" + name);
        m_box.plant(level / "core.exe", content);
        std::string member = "core.exe";
        for (int i = 0; i < levels; ++i) {
            const std::string archive = name + std::to_string(i) + ".zip";
            EXPECT_TRUE(makeArchive(level / archive, level, {member}, "zip"));
            fs::remove(level / member);
            member = archive;
        }
        fs::copy_file(level / member, m_drive / member);
    };
    nest("ok", 8, "core eight levels down");
    nest("deep", 9, "core nine levels down");
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_EQ(record.infected.size(), 1u);
    ASSERT_EQ(record.reportLines.size(), 1u);
    EXPECT_NE(record.reportLines[0].find("core.exe"), std::string::npos);
    EXPECT_TRUE(record.traced("nested deeper than 8 archives, not extracted"));
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// An archive that holds a copy of an archive holding the same member: each
// copy is extracted into its own folder, the member is matched once per
// copy, and the scan ends.
TEST_F(ArchiveScan, ArchiveHoldingACopyOfItselfEnds) {
    const fs::path from = m_box.folder("work/self");
    m_box.plant(from / "mirror.exe", "mirrored member");
    ASSERT_TRUE(makeArchive(from / "self.zip", from, {"mirror.exe"}, "zip"));
    fs::copy_file(from / "self.zip", from / "copy.zip");
    ASSERT_TRUE(makeArchive(from / "self.zip", from, {"copy.zip"}, "zip"));  // added to it
    fs::copy_file(from / "self.zip", m_drive / "self.zip");
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(record.infected.size(), 2u);
    EXPECT_EQ(record.reportLines.size(), 1u);
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// 7-Zip stops at the first member it cannot write; a member past the size
// limit must not hide the members behind it.
TEST_F(ArchiveScan, LargeMemberDoesNotHideTheRest) {
    for (const std::string type : {"zip", "7z"}) {
        const fs::path from = m_box.folder("work/large-" + type);
        std::string big(6 * 1024 * 1024, '\0');
        for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 5);
        m_box.write(from / "a-big.bin", big);
        m_box.plant(from / "z-after.exe", "behind the large member " + type);
        ASSERT_TRUE(
            makeArchive(m_drive / ("large." + type), from, {"a-big.bin", "z-after.exe"}, type));
    }
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_EQ(record.memberFindings("z-after.exe"), 2);
    EXPECT_TRUE(record.traced("members of 5 MiB or more are left out"));
}

// An encrypted archive fails at once instead of asking for a password.
TEST_F(ArchiveScan, EncryptedArchiveNeverWaitsForAPassword) {
    const fs::path from = m_box.folder("work/locked");
    m_box.write(from / "secret.exe", "locked member");
    platform::ChildProcess child;
    ASSERT_EQ(platform::ChildProcess::spawn(
                  {"/usr/bin/7zz", "a", "-bd", "-psecret", "-mhe=on", "--",
                   (m_drive / "locked.7z").string(), "secret.exe"},
                  [&] {
                      platform::SpawnOptions options;
                      options.workingDirectory = from.string();
                      return options;
                  }(),
                  child),
              0u);
    ASSERT_EQ(child.wait(60s), 0u);
    m_box.plant(m_drive / "plain.exe", "next to the locked archive");
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(record.findings("x:\\plain.exe"), 1);
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// A stop while the archiver runs kills it; the scan ends and leaves nothing.
TEST_F(ArchiveScan, StopKillsTheArchiver) {
    const fs::path archive = archiveOf("stopped.zip", "inside.exe", "never reached", "zip");
    fs::copy_file(archive, m_drive / "stopped.zip");
    std::thread stopper;
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record = m_box.runFull(u"X:\\", [&](uint32_t code, const std::u16string& text) {
        if (code != SCANMSG_DEBUG || text.rfind(u"CMD: ", 0) != 0 || stopper.joinable()) return;
        stopper = std::thread([] { StopOV(); });
        const auto asked = std::chrono::steady_clock::now();
        while (RunFlag() != 0 && std::chrono::steady_clock::now() - asked < 5s) {
            std::this_thread::sleep_for(1ms);
        }
    });
    if (stopper.joinable()) stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(record.memberFindings("inside.exe"), 0);
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

TEST_F(ArchiveScan, CustomFileArchive) {
    const fs::path archive = archiveOf("Picked.ZIP", "picked.exe", "picked member", "zip");
    m_box.plantExisting(archive);
    const std::u16string file = platform::toWindowsPath(archive.string());
    struct Case {
        uint32_t scanArchives;
        int member;
        int whole;
    } cases[] = {{1, 1, 0}, {0, 0, 1}};
    for (const auto& c : cases) {
        m_box.setSetting(names::kScanArchives, c.scanArchives);
        ScanRecord record = m_box.runCustom(file, u"");
        EXPECT_EQ(record.memberFindings("picked.exe"), c.member);
        EXPECT_EQ(record.findings("\\picked.zip"), 1);  // the member or the whole
    }
}

}  // namespace
