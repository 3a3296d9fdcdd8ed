#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
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

// What ScanArchives decides: with 1 an archive's members are found and the
// archive itself is not hashed; with 0 the archive is a file like any other.
struct ScanArchivesCase {
    uint32_t scanArchives;
    int members;   // findings of each member
    int archives;  // findings of each archive as a whole
};
constexpr ScanArchivesCase kScanArchivesCases[] = {{1, 1, 0}, {0, 0, 1}};

// Puts the archiver's program list in place for the life of the object.
class ArchiverCandidatesFor {
public:
    explicit ArchiverCandidatesFor(std::vector<std::string> paths) {
        SetArchiverCandidates(std::move(paths));
    }
    ~ArchiverCandidatesFor() { ResetArchiverCandidates(); }
    ArchiverCandidatesFor(const ArchiverCandidatesFor&) = delete;
    ArchiverCandidatesFor& operator=(const ArchiverCandidatesFor&) = delete;
};

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

    // A stand-in archiver the engine accepts: root's, in a folder of root's,
    // showing a 7-Zip version when run without arguments and running body
    // (shell text) otherwise, as the archiver's own user.
    fs::path trustedStandIn(const std::string& folder, const std::string& body) {
        const fs::path dir = m_box.folder(folder);
        const fs::path file = dir / "7zz";
        m_box.write(file, "#!/bin/sh\nif [ $# -eq 0 ]; then echo '7-Zip (z) 26.02 (x64)'; exit 0; fi\n" +
                              body);
        ::chmod(file.c_str(), 0755);
        ::chmod(dir.c_str(), 0755);
        ::chmod(m_box.root().c_str(), 0711);
        return file;
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
    for (const auto& c : kScanArchivesCases) {
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
// True once the process is gone: ended and reaped (a zombie still counts
// as there until its parent takes it).
bool ProcessGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// The archiver is a stand-in found first in PATH that records its own
// identifier and that of a child, then waits for that child: it is
// certainly still running when the stop comes, however fast the machine.
TEST_F(ArchiveScan, StopKillsTheArchiver) {
    const fs::path archive = archiveOf("stopped.zip", "inside.exe", "never reached", "zip");
    fs::copy_file(archive, m_drive / "stopped.zip");
    // The stand-in runs as the archiver's own user: it needs a folder it
    // may write its process ids into.
    const fs::path pidFolder = m_box.folder("archiver-pids");
    ::chmod(pidFolder.c_str(), 0777);
    const fs::path pids = pidFolder / "archiver.pids";
    const fs::path standIn = trustedStandIn(
        "slow-archiver", "echo $$ > '" + pids.string() + ".new'\nsleep 600 &\necho $! >> '" +
                             pids.string() + ".new'\nmv '" + pids.string() + ".new' '" +
                             pids.string() + "'\nwait\n");
    ArchiverCandidatesFor candidates({standIn.string()});

    std::vector<pid_t> archiver;  // the stand-in and its child
    std::thread stopper;
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record = m_box.runFull(u"X:\\", [&](uint32_t code, const std::u16string& text) {
        if (code != SCANMSG_DEBUG || text.rfind(u"CMD: ", 0) != 0 || stopper.joinable()) return;
        // The stop comes from another thread once the archiver runs.
        stopper = std::thread([&] {
            while (!fs::exists(pids) && std::chrono::steady_clock::now() - start < 60s) {
            std::this_thread::sleep_for(1ms);
        }
            std::ifstream in(pids);
            for (pid_t pid = 0; in >> pid;) archiver.push_back(pid);
            StopOV();
        });
    });
    if (stopper.joinable()) stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    ASSERT_EQ(archiver.size(), 2u) << "the stand-in archiver never ran";
    // The stand-in is reaped by the scan; its child by whoever adopted it.
    EXPECT_TRUE(ProcessGone(archiver[0])) << "the archiver still runs after the scan";
    for (int i = 0; i < 5000 && !ProcessGone(archiver[1]); ++i) {
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(ProcessGone(archiver[1])) << "the archiver's child still runs after the scan";
    EXPECT_TRUE(record.traced("DoScanInArchive:: stopped: x:\\stopped.zip")) << [&] {
        std::string all;
        for (const std::string& trace : record.traces) all += trace + "\n";
        return all;
    }();
    EXPECT_FALSE(record.traced(" ExtractDlFile:: Ended OK"));
    EXPECT_EQ(record.memberFindings("inside.exe"), 0);
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (m_had) {
            ::setenv(m_name, m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

// When an archive cannot be extracted as it should, the trace says why and
// the scan goes on to its end.
TEST_F(ArchiveScan, ExtractionLimitsAndFailuresAreTraced) {
    const fs::path archive = archiveOf("limits.zip", "member.exe", "member of limits", "zip");
    fs::copy_file(archive, m_drive / "limits.zip");
    m_box.plant(m_drive / "plain.exe", "a plain file beside the archive");
    const fs::path runFolder = m_box.folder("archiver-runs");
    ::chmod(runFolder.c_str(), 0777);  // written by the archiver's own user
    // A stand-in archiver that writes one new file at the size limit into
    // its output folder at each run and fails, as 7-Zip does when a write
    // is refused. Each run is another user, so each leaves a file of its own
    // to be counted.
    const std::string runMarks = "'" + runFolder.string() + "'";
    const fs::path bigWriter = trustedStandIn(
        "big-writer", "out=\nfor a; do case \"$a\" in -o*) out=\"${a#-o}\";; esac; done\n"
                      "n=$(ls " + runMarks + " | wc -l)\nn=$((n + 1))\n: > " + runMarks +
                          "/run$n\n"
                          "head -c 5242880 /dev/zero > \"$out/big$n.bin\"\nexit 2\n");
    const fs::path noArchiver = m_box.folder("no-archiver");
    const fs::path notAFolder = m_box.root() / "not-a-folder";
    m_box.write(notAFolder, "a file where the temp folder should be");

    struct Case {
        const char* name;
        std::vector<std::string> archivers;  // empty: the installed 7-Zip
        std::string tmpdir;  // where extraction folders go; empty: the sandbox's
        std::vector<std::string> traces;
        int runs;  // of the stand-in archiver
        int members;
    } cases[] = {
        {"7-Zip missing",
         {(noArchiver / "7zz").string()},
         "",
         {" [ERROR] LoadUnzipRes::find resource failed (2)",
          " [ERROR] ExtractDlFile::create process failed"},
         0,
         0},
        {"no extraction folder",
         {},
         notAFolder.string(),
         {" [ERROR] LoadUnzipRes::no private extraction folder could be made"},
         0,
         0},
        {"too many large members",
         {bigWriter.string()},
         "",
         {"DoScanInArchive:: members of 5 MiB or more are left out, extracting again",
          "DoScanInArchive:: too many large members, the rest is not scanned"},
         8,
         0},
        {"7-Zip itself", {}, "", {" ExtractDlFile:: Ended OK, Search Path: "}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(runFolder);
        fs::create_directory(runFolder);
        ::chmod(runFolder.c_str(), 0777);
        ScanRecord record;
        {
            std::optional<ArchiverCandidatesFor> archivers;
            if (!c.archivers.empty()) archivers.emplace(c.archivers);
            // Root extracts in the runtime folder, anyone else in TMPDIR.
            std::optional<ScopedVariable> tmpdir, runtime;
            if (!c.tmpdir.empty()) {
                tmpdir.emplace("TMPDIR", c.tmpdir);
                runtime.emplace("ORVANE_RUNTIME_DIR", c.tmpdir);
            }
            record = m_box.runFull(u"X:\\");
        }
        for (const std::string& trace : c.traces) EXPECT_TRUE(record.traced(trace)) << trace;
        const auto runsSeen = static_cast<int>(
            std::distance(fs::directory_iterator(runFolder), fs::directory_iterator()));
        EXPECT_EQ(runsSeen, c.runs);
        int retries = 0;
        for (const std::string& trace : record.traces)
            retries += trace.find("extracting again") != std::string::npos;
        EXPECT_EQ(retries, c.runs > 0 ? c.runs - 1 : 0);
        EXPECT_EQ(record.memberFindings("member.exe"), c.members);
        EXPECT_EQ(record.findings("x:\\plain.exe"), 1);
        EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
    }
}

// Puts shortened time limits in place for the life of the object.
class ArchiveTimeLimitsFor {
public:
    ArchiveTimeLimitsFor(std::chrono::milliseconds extraction, std::chrono::milliseconds nest) {
        SetArchiveTimeLimits(extraction, nest);
    }
    ~ArchiveTimeLimitsFor() { ResetArchiveTimeLimits(); }
    ArchiveTimeLimitsFor(const ArchiveTimeLimitsFor&) = delete;
    ArchiveTimeLimitsFor& operator=(const ArchiveTimeLimitsFor&) = delete;
};

// An archiver that never ends is stopped when the archive's time or its
// nest's time is spent; what it wrote is still walked, an archive in it is
// extracted only while the nest has time left, and the scan ends.
TEST_F(ArchiveScan, TimeLimitsStopTheArchiverAndAreTraced) {
    const fs::path archive = archiveOf("timed.zip", "member.exe", "never extracted", "zip");
    fs::copy_file(archive, m_drive / "timed.zip");
    m_box.plant(m_drive / "plain.exe", "a plain file beside the slow archive");
    const fs::path runFolder = m_box.folder("sleeper-runs");
    // A stand-in that records its process id as one file per run (each run
    // is another user), writes an inner archive at its first run only, and
    // then sleeps for 30 s, far past the limit under test, and ends well:
    // only a limit that works stops it.
    const std::string runMarks = "'" + runFolder.string() + "'";
    const fs::path sleeper =
        trustedStandIn("sleeper", "n=$(ls " + runMarks + " | wc -l)\necho $$ > " + runMarks +
                                      "/run$((n + 1))\n"
                                      "if [ \"$n\" -eq 0 ]; then printf 'inner' > inner.zip; fi\n"
                                      "exec sleep 30\n");
    ArchiverCandidatesFor candidates({sleeper.string()});
    const std::string outerTimedOut =
        "DoScanInArchive:: extraction ran out of time and was stopped, only what was extracted "
        "is scanned: " +
        (m_drive / "timed.zip").string();
    const std::string innerTimedOut =
        "DoScanInArchive:: extraction ran out of time and was stopped, only what was extracted "
        "is scanned: ";
    const std::string nestSpent =
        "DoScanInArchive:: time for this nest of archives is spent, not extracted: ";

    // The limit that is not under test is longer than the stand-in sleeps.
    struct Case {
        const char* name;
        std::chrono::milliseconds extraction;
        std::chrono::milliseconds nest;
        int runs;        // of the stand-in: the outer archive, then the inner one
        bool nestSpent;  // the inner archive left out for the nest's time
    } cases[] = {
        {"one archive's time", 5s, 60s, 2, false},
        {"the nest's time", 60s, 5s, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(runFolder);
        fs::create_directory(runFolder);
        ::chmod(runFolder.c_str(), 0777);
        ScanRecord record;
        {
            ArchiveTimeLimitsFor limits(c.extraction, c.nest);
            record = m_box.runFull(u"X:\\");
        }
        auto tracesWith = [&](const std::string& text, const std::string& tail) {
            int n = 0;
            for (const std::string& trace : record.traces) {
                n += trace.find(text) != std::string::npos && trace.size() >= tail.size() &&
                     trace.compare(trace.size() - tail.size(), tail.size(), tail) == 0;
            }
            return n;
        };
        EXPECT_TRUE(record.traced(outerTimedOut));
        EXPECT_EQ(tracesWith(innerTimedOut, "inner.zip"), c.nestSpent ? 0 : 1);
        EXPECT_EQ(tracesWith(nestSpent, "inner.zip"), c.nestSpent ? 1 : 0);
        std::vector<pid_t> runs;
        for (const auto& mark : fs::directory_iterator(runFolder)) {
            std::ifstream in(mark.path());
            pid_t pid = 0;
            if (in >> pid) runs.push_back(pid);
        }
        EXPECT_EQ(static_cast<int>(runs.size()), c.runs);
        for (pid_t pid : runs) EXPECT_TRUE(ProcessGone(pid)) << "a stopped archiver still runs";
        EXPECT_EQ(record.findings("x:\\plain.exe"), 1);
        EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
    }
}

TEST_F(ArchiveScan, CustomFileArchive) {
    const fs::path archive = archiveOf("Picked.ZIP", "picked.exe", "picked member", "zip");
    m_box.plantExisting(archive);
    const std::u16string file = platform::toWindowsPath(archive.string());
    for (const auto& c : kScanArchivesCases) {
        m_box.setSetting(names::kScanArchives, c.scanArchives);
        ScanRecord record = m_box.runCustom(file, u"");
        EXPECT_EQ(record.memberFindings("picked.exe"), c.members);
        // The archive on disk is named by its member's finding or its own.
        EXPECT_EQ(record.findings("\\picked.zip") - record.memberFindings("picked.exe"), c.archives);
    }
}

}  // namespace
