// What an archive can do to a scan, and what the scan does with what it
// finds in one: findings named after the archive on disk, the archiver taken
// only from a trusted place and run confined, the budget of a nest of
// archives, and extraction folders that never outlive a scan.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
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

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of one "Name:\tvalue" line of a /proc status file.
std::string StatusField(const std::string& status, const std::string& name) {
    const std::string key = "\n" + name + ":";
    size_t at = ("\n" + status).find(key);
    if (at == std::string::npos) return {};
    at += key.size() - 1;
    size_t end = status.find('\n', at);
    std::string value = status.substr(at, end - at);
    while (!value.empty() && (value.front() == '\t' || value.front() == ' ')) value.erase(0, 1);
    return value;
}

class ArchiveSafety : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the engine needs the privileges of root";
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
        ResetArchiverCandidates();
        // The scan moved into the sandbox, which goes with this test.
        std::error_code ignored;
        fs::current_path("/", ignored);
        if (::geteuid() == 0 && haveArchiver()) {
            EXPECT_TRUE(m_box.tempLeftovers().empty()) << "an extraction folder was left behind";
        }
    }

    // A program file of root's (mode given) in a folder of root's.
    fs::path program(const std::string& folder, const std::string& name, const std::string& content,
                     mode_t fileMode, mode_t folderMode = 0755) {
        const fs::path dir = m_box.folder(folder);
        const fs::path file = dir / name;
        m_box.write(file, content);
        ::chmod(file.c_str(), fileMode);
        ::chmod(dir.c_str(), folderMode);
        // The archiver's own user must reach the program through the sandbox.
        ::chmod(m_box.root().c_str(), 0711);
        return file;
    }

    ScanSandbox m_box;
    fs::path m_drive;
    fs::path m_work;
};

// A member is reported under the archive on disk, which is what the results
// list deletes or quarantines, and the location text names the member,
// through every archive it lies in.
TEST_F(ArchiveSafety, MemberReportedUnderTheArchiveOnDisk) {
    const fs::path from = m_box.folder("work/plain");
    m_box.plant(from / "docs" / "payload.exe", "member of a plain archive");
    ASSERT_TRUE(makeArchive(m_drive / "plain.zip", from, {"docs/payload.exe"}, "zip"));

    const fs::path nest = m_box.folder("work/nest");
    m_box.plant(nest / "core.exe", "member of an inner archive");
    ASSERT_TRUE(makeArchive(nest / "inner.7z", nest, {"core.exe"}, "7z"));
    ASSERT_TRUE(makeArchive(m_drive / "outer.zip", nest, {"inner.7z"}, "zip"));

    ScanRecord record = m_box.runFull(u"X:\\");
    ASSERT_EQ(record.reportLines.size(), 2u);
    std::set<std::string> lines(record.reportLines.begin(), record.reportLines.end());
    EXPECT_EQ(lines.count(" Infected Generic Malware: x:\\plain.zip [archive member: "
                          "docs\\payload.exe]."),
              1u)
        << record.reportLines[0] << "\n"
        << record.reportLines[1];
    EXPECT_EQ(lines.count(" Infected Generic Malware: x:\\outer.zip [archive member: inner.7z > "
                          "core.exe]."),
              1u)
        << record.reportLines[0] << "\n"
        << record.reportLines[1];
    for (const auto& text : record.infected) {
        EXPECT_EQ(text.find("ov_"), std::string::npos) << text;  // never the extraction path
    }
}

// A member whose name would read as a registry place, or close the location
// early, cannot make the results list touch the registry.
TEST_F(ArchiveSafety, MemberNameCannotPoseAsARegistryPlace) {
    const fs::path from = m_box.folder("work/posing");
    m_box.plant(from / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "x] y.exe", "posing member");
    ASSERT_TRUE(
        makeArchive(m_drive / "posing.zip", from, {"HKEY_LOCAL_MACHINE/SOFTWARE/x] y.exe"}, "zip"));
    ScanRecord record = m_box.runFull(u"X:\\");
    ASSERT_EQ(record.reportLines.size(), 1u);
    const std::string& line = record.reportLines[0];
    EXPECT_EQ(line.find("HKEY_"), std::string::npos) << line;
    EXPECT_EQ(line.find(']'), line.size() - 2) << line;
    EXPECT_EQ(record.findings("x:\\posing.zip"), 1) << line;
}

// The archive type comes from the name: a 7z archive named .zip is not
// parsed as 7z.
TEST_F(ArchiveSafety, ArchiveTypeIsTheOneItsNameSays) {
    const fs::path from = m_box.folder("work/disguised");
    m_box.plant(from / "hidden.exe", "member of a disguised archive");
    ASSERT_TRUE(makeArchive(m_work / "real.7z", from, {"hidden.exe"}, "7z"));
    fs::copy_file(m_work / "real.7z", m_drive / "disguised.zip");
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_EQ(record.memberFindings("hidden.exe"), 0);
    EXPECT_TRUE(record.traced(" -tzip ")) << "the type switch is on the command";
}

// Only a 7-Zip that root alone can change, and new enough, is used.
TEST_F(ArchiveSafety, UntrustedOrOldArchiverRefused) {
    const std::string real = ReadText("/usr/bin/7zz");
    const std::string old = "#!/bin/sh\necho '7-Zip [64] 16.02 : Copyright (c) 1999-2016'\n";
    struct Case {
        const char* what;
        fs::path path;
        bool accepted;
        const char* trace;
    } cases[] = {
        {"world-writable file", program("t1", "7zz", real, 0777), false,
         "refused: it or its folder is not root's alone"},
        {"world-writable folder", program("t2", "7zz", real, 0755, 0777), false,
         "refused: it or its folder is not root's alone"},
        {"old version", program("t3", "7zz", old, 0755), false, "is older than 25.01"},
        {"trusted copy", program("t4", "7zz", real, 0755), true, "LoadUnzipRes::Ended OK, EXE: "},
    };
    m_box.write(m_drive / "clean.txt", "nothing");
    for (const auto& c : cases) {
        SetArchiverCandidates({c.path.string()});
        ScanRecord record = m_box.runFull(u"X:\\");
        std::string loads;
        for (const auto& t : record.traces)
            if (t.find("LoadUnzipRes") != std::string::npos) loads += t + "\n";
        EXPECT_TRUE(record.traced(c.trace)) << c.what << "\n" << loads;
        EXPECT_EQ(record.traced(" [ERROR] LoadUnzipRes::find resource failed (2)"), !c.accepted)
            << c.what;
    }
}

// The archiver runs as a user of its own without any capability, with
// no_new_privs and a minimal environment, in its own output folder.
TEST_F(ArchiveSafety, ArchiverRunsWithoutPrivileges) {
    // A stand-in that shows a version and waits, so its /proc can be read.
    const fs::path standIn =
        program("standin", "7zz",
                "#!/bin/sh\nif [ $# -eq 0 ]; then echo '7-Zip (z) 26.02 (x64)'; exit 0; fi\n"
                "sleep 3\n",
                0755);
    SetArchiverCandidates({standIn.string()});
    const fs::path from = m_box.folder("work/watched");
    m_box.write(from / "a.txt", "watched");
    ASSERT_TRUE(makeArchive(m_drive / "watched.zip", from, {"a.txt"}, "zip"));

    std::atomic<bool> done{false};
    std::string status, environment, cwdOwner, cmdline;
    std::thread watcher([&] {
        const std::string self = std::to_string(::getpid());
        while (!done && status.empty()) {
            for (const auto& entry : fs::directory_iterator("/proc")) {
                const std::string pid = entry.path().filename().string();
                if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
                std::string text = ReadText(entry.path() / "status");
                if (StatusField(text, "PPid") != self) continue;
                std::string args = ReadText(entry.path() / "cmdline");
                if (args.find("-tzip") == std::string::npos) continue;
                struct stat st {};
                if (::stat((entry.path() / "cwd").c_str(), &st) == 0)
                    cwdOwner = std::to_string(st.st_uid);
                environment = ReadText(entry.path() / "environ");
                cmdline = args;
                status = text;
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    ScanRecord record = m_box.runFull(u"X:\\");
    done = true;
    watcher.join();
    ASSERT_FALSE(status.empty()) << "the archiver was not seen running";
    const std::string uid = StatusField(status, "Uid");
    EXPECT_NE(uid.substr(0, 2), "0\t") << uid;
    const std::string realUid = uid.substr(0, uid.find('\t'));
    EXPECT_EQ(cwdOwner, realUid) << "its output folder is its own";
    EXPECT_EQ(StatusField(status, "CapEff"), "0000000000000000");
    EXPECT_EQ(StatusField(status, "CapPrm"), "0000000000000000");
    EXPECT_EQ(StatusField(status, "CapInh"), "0000000000000000");
    EXPECT_EQ(StatusField(status, "CapBnd"), "0000000000000000");
    EXPECT_EQ(StatusField(status, "CapAmb"), "0000000000000000");
    EXPECT_EQ(StatusField(status, "NoNewPrivs"), "1");
    EXPECT_EQ(environment, std::string("PATH=/usr/bin:/bin\0LC_ALL=C.UTF-8\0", 34));
    EXPECT_NE(cmdline.find("/proc/self/fd/3"), std::string::npos) << "the archive is handed open";
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// A small archive that unpacks to more than the budget of its nest is
// stopped there; what came out is scanned and removed.
TEST_F(ArchiveSafety, SizeBombStoppedByTheBudget) {
    const fs::path from = m_box.folder("work/bomb");
    // 100 members of 4.5 MiB of zeros: about 470 MB from an archive of a
    // few hundred KiB. Hard links keep the fixture small on disk.
    m_box.write(from / "m0.bin", std::string(4608 * 1024, '\0'));
    std::vector<std::string> members = {"m0.bin"};
    for (int i = 1; i < 100; ++i) {
        const std::string name = "m" + std::to_string(i) + ".bin";
        fs::create_hard_link(from / "m0.bin", from / name);
        members.push_back(name);
    }
    ASSERT_TRUE(makeArchive(m_drive / "bomb.zip", from, members, "zip"));
    EXPECT_LT(fs::file_size(m_drive / "bomb.zip"), 2u * 1024 * 1024);

    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_TRUE(
        record.traced("extraction reached the budget of this nest of archives (400 MB, "
                      "10000 files) and was stopped"));
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// Root never extracts into a temp folder another user controls, and the
// archiver's own user gets a private archive handed over all the same.
TEST_F(ArchiveSafety, RootExtractsInItsRuntimeFolderNotInTmpdir) {
    ASSERT_EQ(::chown(m_box.tempFolder().c_str(), 65534, 65534), 0);
    ::chmod(m_box.tempFolder().c_str(), 0777);
    const fs::path from = m_box.folder("work/private");
    m_box.plant(from / "kept.exe", "member of a private archive");
    const fs::path folder = m_box.folder("drive/root-only");
    ASSERT_TRUE(makeArchive(folder / "private.zip", from, {"kept.exe"}, "zip"));
    ::chmod((folder / "private.zip").c_str(), 0600);
    ::chmod(folder.c_str(), 0700);

    ScanRecord record = m_box.runFull(u"X:\\", [&](uint32_t code, const std::u16string& text) {
        if (code == SCANMSG_DEBUG && text.rfind(u"TMPDIR: ", 0) == 0) {
            EXPECT_TRUE(fs::is_empty(m_box.tempFolder())) << "nothing in the user's TMPDIR";
        }
    });
    EXPECT_EQ(record.memberFindings("kept.exe"), 1);
    EXPECT_TRUE(record.traced("LoadUnzipRes::Extraction folder: "));
    bool inRuntime = false;
    for (const auto& trace : record.traces)
        inRuntime |= trace.rfind("TMPDIR: ", 0) == 0 &&
                     trace.find("\\run\\extract\\scan-") != std::string::npos;
    EXPECT_TRUE(inRuntime);
    EXPECT_TRUE(fs::is_empty(m_box.tempFolder()));
}

// The scan thread may give up every capability but reading and looking
// into processes: the archiver is still started as its own user, ended and
// its folder removed, with the rights the setup kept.
TEST_F(ArchiveSafety, ArchiveScannedWhenTheScanThreadKeepsOnlyReading) {
    const fs::path from = m_box.folder("work/reduced");
    m_box.plant(from / "deep" / "found.exe", "member found by a reduced scan thread");
    ASSERT_TRUE(makeArchive(m_drive / "reduced.zip", from, {"deep/found.exe"}, "zip"));
    bool reduced = false;
    ScanRecord record = m_box.runFull(u"X:\\", [&](uint32_t code, const std::u16string&) {
        if (code != SCANMSG_SCAN_TYPE || reduced) return;
        // On the scan thread: capset acts on the calling thread only.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        const uint32_t kept = (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_SYS_PTRACE);
        data[0].effective = kept;
        data[0].permitted = kept;
        reduced = ::syscall(SYS_capset, &header, data) == 0;
    });
    ASSERT_TRUE(reduced);
    EXPECT_EQ(record.memberFindings("deep\\found.exe"), 1);
    EXPECT_FALSE(record.traced("create process failed"));
    EXPECT_FALSE(record.traced("DoScanInArchive::remove"));
}

// An archive of more members than the budget of its nest allows is
// stopped there too.
TEST_F(ArchiveSafety, FileCountBombStoppedByTheBudget) {
    const fs::path from = m_box.folder("work/many");
    std::vector<std::string> members;
    for (int folder = 0; folder < 11; ++folder) {
        const fs::path sub = from / ("d" + std::to_string(folder));
        fs::create_directories(sub);
        for (int i = 0; i < 1000; ++i) std::ofstream(sub / std::to_string(i));
        members.push_back("d" + std::to_string(folder));
    }
    ASSERT_TRUE(makeArchive(m_drive / "many.zip", from, members, "zip"));
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_TRUE(record.traced("extraction reached the budget of this nest of archives"));
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// Extraction folders of a scan that was killed are removed when the next
// scan starts; those of a scan still running are left alone.
TEST_F(ArchiveSafety, KilledScansLeftoversRemovedAtStart) {
    const fs::path extract = m_box.root() / "run" / "extract";
    // pid 1 is alive; 4194305 is above the largest process id Linux gives.
    m_box.write(extract / "scan-4194305" / "ov_AbCdEf" / "left.exe", "left behind");
    m_box.write(extract / "ov_XyZ123" / "older.exe", "left behind");
    m_box.write(extract / "scan-1" / "ov_live" / "in-use.exe", "in use");
    fs::permissions(extract, fs::perms::owner_all, fs::perm_options::replace);
    fs::permissions(m_box.root() / "run", fs::perms::owner_all, fs::perm_options::replace);
    m_box.write(m_drive / "clean.txt", "nothing");

    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_TRUE(record.traced("removed what a stopped scan left"));
    EXPECT_FALSE(fs::exists(extract / "scan-4194305"));
    EXPECT_FALSE(fs::exists(extract / "ov_XyZ123"));
    EXPECT_TRUE(fs::exists(extract / "scan-1" / "ov_live" / "in-use.exe"));
    fs::remove_all(extract / "scan-1");
}

}  // namespace
