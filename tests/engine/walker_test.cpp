#include <gtest/gtest.h>
#include <functional>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/read_ahead.h"
#include "engine/walker_sandbox_support.h"
#include "platform/text.h"

using namespace walker_test;
using namespace std::chrono_literals;

namespace {

class RunFlagGuard {
public:
    explicit RunFlagGuard(int32_t value) { SetRunFlag(value); }
    ~RunFlagGuard() { SetRunFlag(0); }
};

TEST(WalkerChecks, SmartFilterAndArchiveTable) {
    struct Case {
        const char16_t* path;
        int32_t smart;
        int32_t archive;
    } cases[] = {
        {u"C:\\Docs\\report.docx", 1, 0},
        {u"C:\\x\\control.ocx", 0, 0},
        {u"C:\\x\\box.oxx", 1, 0},
        {u"C:\\x\\myxml", 1, 0},
        {u"C:\\x\\backup.7z", 0, 1},
        {u"C:\\X\\BACKUP.ZIP", 0, 1},
        {u"C:\\x\\setup.CAB", 0, 1},
        {u"C:\\x\\Tool.EXE", 1, 0},
        {u"C:\\x\\readme.exe.txt", 0, 0},
        {u"C:\\x\\a.7z.bak", 0, 0},
        {u"C:\\x\\plain", 0, 0},
        {u"C:\\x\\deck.pptx", 1, 0},
        {u"C:\\x\\drawing.wmf", 1, 0},
        {u"x", 0, 0},
        {u"", 0, 0},
    };
    RunFlagGuard running(1);
    for (const auto& c : cases) {
        std::u16string lowered = platform::toLower(c.path);
        std::u16string first(c.path);
        first.push_back(0);
        EXPECT_EQ(CheckFileExt(first.data()), c.smart) << platform::toUtf8(c.path);
        EXPECT_EQ(std::u16string(first.c_str()), lowered) << "lower-cased in place";
        std::u16string second(c.path);
        second.push_back(0);
        EXPECT_EQ(IsArchiveExt(second.data()), c.archive) << platform::toUtf8(c.path);
        EXPECT_EQ(std::u16string(second.c_str()), lowered);
    }
    // Past the lower-cased part of a very long path its end keeps its case,
    // and still counts.
    std::u16string longExe = u"C:\\" + std::u16string(3000, u'A') + u".EXE";
    std::u16string longZip = u"C:\\" + std::u16string(3000, u'A') + u".ZiP";
    EXPECT_EQ(CheckFileExt(longExe.data()), 1);
    EXPECT_EQ(IsArchiveExt(longZip.data()), 1);
    EXPECT_EQ(longExe.substr(longExe.size() - 4), u".EXE");
    EXPECT_EQ(CheckFileExt(nullptr), 0);
    EXPECT_EQ(IsArchiveExt(nullptr), 0);
}

TEST(WalkerChecks, AnswerNoOnceTheScanIsStopped) {
    RunFlagGuard stopped(0);
    char16_t exe[] = u"C:\\X\\Tool.EXE";
    char16_t zip[] = u"C:\\X\\A.ZIP";
    EXPECT_EQ(CheckFileExt(exe), 0);
    EXPECT_EQ(IsArchiveExt(zip), 0);
    EXPECT_EQ(FindF(u"C:\\", 0), 0);
}

class WalkerScan : public ::testing::Test {
protected:
    void SetUp() override {
        m_drive = m_box.folder("drive");
        if (!m_box.mapDrive('X', m_drive)) {
            GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
        }
    }
    ScanSandbox m_box;
    fs::path m_drive;
};

// Which files a walk hands to the file scanner, by the smart filter and the
// archive setting: the top folder of a drive is filtered only when SmartExt
// is on, its sub-folders always; an archive goes to the archiver only with
// ScanArchives 1 and is otherwise a file like any other.
TEST_F(WalkerScan, HandsOnFilesByFilterAndArchiveSetting) {
    const char* names[] = {"report.docx", "control.ocx", "box.oxx", "myxml", "backup.7z"};
    for (const char* name : names) {
        m_box.plant(m_drive / name, std::string("top ") + name);
        m_box.plant(m_drive / "sub" / name, std::string("sub ") + name);
    }
    struct Case {
        uint32_t smartExt;
        uint32_t scanArchives;
        std::set<std::string> found;
    } cases[] = {
        {0,
         0,
         {"x:\\report.docx", "x:\\control.ocx", "x:\\box.oxx", "x:\\myxml", "x:\\backup.7z",
          "x:\\sub\\report.docx", "x:\\sub\\box.oxx", "x:\\sub\\myxml"}},
        {1,
         0,
         {"x:\\report.docx", "x:\\box.oxx", "x:\\myxml", "x:\\sub\\report.docx", "x:\\sub\\box.oxx",
          "x:\\sub\\myxml"}},
        // backup.7z is no real archive: the archiver fails, nothing is hashed.
        {0,
         1,
         {"x:\\report.docx", "x:\\control.ocx", "x:\\box.oxx", "x:\\myxml", "x:\\sub\\report.docx",
          "x:\\sub\\box.oxx", "x:\\sub\\myxml"}},
    };
    for (const auto& c : cases) {
        m_box.setSetting(names::kSmartExt, c.smartExt);
        m_box.setSetting(names::kScanArchives, c.scanArchives);
        ScanRecord record = m_box.runFull(u"X:\\");
        std::set<std::string> found;
        for (const char* name : names) {
            for (std::string tail : {std::string("x:\\") + name, std::string("x:\\sub\\") + name}) {
                int hits = record.findings(tail);
                if (hits > 0) found.insert(tail);
                EXPECT_LE(hits, 1) << tail;
            }
        }
        EXPECT_EQ(found, c.found) << "SmartExt " << c.smartExt << " ScanArchives "
                                  << c.scanArchives;
        EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
    }
    EXPECT_TRUE(m_box.tempLeftovers().empty());
}

// Two files and a sub-folder of five: the walk of the folder returns 2;
// Objects Scanned rises by the three entries, the five of the sub-folder and
// one for every file hashed.
TEST_F(WalkerScan, CountsEntriesAndHashedFiles) {
    m_box.write(m_drive / "a.txt", "a");
    m_box.write(m_drive / "b.txt", "b");
    for (int i = 0; i < 5; ++i) {
        m_box.write(m_drive / "sub" / ("f" + std::to_string(i) + ".exe"), std::to_string(i));
    }
    m_box.setSetting(names::kSmartExt, 0);
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_EQ(record.count(SCANMSG_OBJECT_TICK), 3 + 5 + 2 + 5);
    ASSERT_FALSE(record.traces.empty());
    std::vector<std::string> returns;
    for (const auto& trace : record.traces) {
        if (trace.rfind("FindF return ", 0) == 0) returns.push_back(trace);
    }
    ASSERT_EQ(returns.size(), 2u);
    EXPECT_EQ(returns[0], "FindF return 5 files had been scanned");
    EXPECT_EQ(returns[1], "FindF return 2 files had been scanned");
    EXPECT_TRUE(record.traced("FindF: Folder: X:\\sub"));
    EXPECT_TRUE(record.traced("FindF: ->> Start path: X:\\*.*"));
}

TEST_F(WalkerScan, StopEndsTheWalkBeforeTheNextEntry) {
    for (int i = 0; i < 40; ++i) {
        m_box.write(m_drive / ("f" + std::to_string(i) + ".txt"), "x" + std::to_string(i));
    }
    m_box.setSetting(names::kSmartExt, 1);  // entries only, nothing hashed
    std::atomic<int> ticks{0};
    std::thread stopper;
    ScanRecord record = m_box.runFull(u"X:\\", [&](uint32_t code, const std::u16string&) {
        if (code != SCANMSG_OBJECT_TICK || ++ticks != 10) return;
        stopper = std::thread([] { StopOV(); });
        // The scan thread waits here, inside the message, until the stop has
        // cleared the run flag, as a user's click would while it walks.
        auto start = std::chrono::steady_clock::now();
        while (RunFlag() != 0 && std::chrono::steady_clock::now() - start < 5s) {
            std::this_thread::sleep_for(1ms);
        }
    });
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(record.count(SCANMSG_OBJECT_TICK), 10);
    EXPECT_TRUE(record.traced("FindF: Thread Status FALSE!"));
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// Links, a FIFO, a socket and a link to the FIFO: every entry is counted,
// nothing blocks, no link is followed as a folder, and the walk ends.
TEST_F(WalkerScan, OddEntriesNeverHangOrLoop) {
    m_box.plant(m_drive / "evil.exe", "odd tree evil");
    m_box.plant(m_drive / "deep" / "evil2.exe", "odd tree evil two");
    m_box.plant(m_drive / "we*rd?" / "star.exe", "in a folder named like a pattern");
    m_box.plant(m_drive / "with blank" / "blank.exe", "in a folder with a blank");
    m_box.setSetting(names::kScanArchives, 1);
    ASSERT_EQ(::mkfifo((m_drive / "fifo.zip").c_str(), 0600), 0);
    fs::create_symlink(m_drive / "fifo.zip", m_drive / "tofifo.zip");
    fs::create_directory_symlink(m_drive, m_drive / "loop");
    fs::create_directory_symlink("..", m_drive / "deep" / "up");
    ASSERT_EQ(::mkfifo((m_drive / "pipe.exe").c_str(), 0600), 0);
    fs::create_symlink(m_drive / "pipe.exe", m_drive / "topipe.exe");
    fs::create_symlink(m_drive / "missing", m_drive / "dangling.exe");
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (m_drive / "sock.exe").string();
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    m_box.setSetting(names::kSmartExt, 0);
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record = m_box.runFull(u"X:\\");
    ::close(sock);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
    EXPECT_EQ(record.findings("x:\\evil.exe"), 1);
    EXPECT_EQ(record.findings("x:\\deep\\evil2.exe"), 1);
    EXPECT_EQ(record.findings("x:\\we*rd?\\star.exe"), 1);
    EXPECT_EQ(record.findings("x:\\with blank\\blank.exe"), 1);
    EXPECT_FALSE(record.traced("FindF: Scan In Archive"));
    EXPECT_FALSE(record.traced("FindF: Folder: X:\\loop"));
    EXPECT_FALSE(record.traced("FindF: Folder: X:\\deep\\up"));
    for (const char* entry : {"X:\\loop", "X:\\pipe.exe", "X:\\topipe.exe", "X:\\sock.exe",
                              "X:\\dangling.exe", "X:\\deep\\up"}) {
        EXPECT_TRUE(record.traced(std::string("FindF: File: ") + entry)) << entry;
    }
}

TEST_F(WalkerScan, FileGoneBeforeItIsOpenedIsSkipped) {
    m_box.plant(m_drive / "gone.exe", "vanishing");
    m_box.plant(m_drive / "stays.exe", "staying");
    m_box.setSetting(names::kSmartExt, 0);
    const fs::path gone = m_drive / "gone.exe";
    // No read-ahead: a worker may open the file before the walk reaches it,
    // and an open file stays readable after it is removed.
    ReadAhead::Limits scanThreadOnly = ReadAhead::DefaultLimits();
    scanThreadOnly.workers = 0;
    ReadAheadScope noReadAhead(scanThreadOnly);
    ScanRecord record = m_box.runFull(u"X:\\", [&](uint32_t code, const std::u16string& text) {
        if (code == SCANMSG_DEBUG && text == u"FindF: File: X:\\gone.exe") fs::remove(gone);
    });
    EXPECT_EQ(record.findings("x:\\gone.exe"), 0);
    EXPECT_EQ(record.findings("x:\\stays.exe"), 1);
    EXPECT_TRUE(record.traced("__ScanFile failed"));
    EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
}

// An entry changed after its folder was listed and before the walk reaches
// it: it is still listed (as Windows lists it), counted and handed on, and
// its open decides: a removed file fails to open, a FIFO is not read, and a
// link put in its place is not followed to the known-bad file it names.
TEST_F(WalkerScan, AnEntryChangedAfterTheListingFailsToOpen) {
    const fs::path outside = m_box.folder("outside");
    m_box.plant(outside / "target.exe", "the link's known-bad target");
    m_box.setSetting(names::kSmartExt, 0);
    struct Change {
        const char* what;
        std::function<void(const fs::path&)> apply;
    } changes[] = {
        {"removed", [](const fs::path& p) { fs::remove(p); }},
        {"a FIFO",
         [](const fs::path& p) {
             fs::remove(p);
             ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
         }},
        {"a link",
         [&](const fs::path& p) {
             fs::remove(p);
             fs::create_symlink(outside / "target.exe", p);
         }},
    };
    const fs::path changed = m_drive / "b_changed.exe";
    auto plantAll = [&] {
        m_box.plant(m_drive / "a_first.exe", "listed first");
        m_box.plant(changed, "changed after the listing");
        m_box.plant(m_drive / "c_last.exe", "listed last");
    };
    // No read-ahead: a worker may open the file before it is changed.
    ReadAhead::Limits scanThreadOnly = ReadAhead::DefaultLimits();
    scanThreadOnly.workers = 0;
    ReadAheadScope noReadAhead(scanThreadOnly);
    plantAll();
    const int objects = m_box.runFull(u"X:\\").count(SCANMSG_OBJECT_TICK);
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        fs::remove(changed);
        plantAll();
        ScanRecord record = m_box.runFull(u"X:\\", [&](uint32_t code, const std::u16string& text) {
            if (code == SCANMSG_DEBUG && text == u"FindF: File: X:\\a_first.exe")
                change.apply(changed);
        });
        EXPECT_EQ(record.count(SCANMSG_SCAN_ENDED), 1);
        EXPECT_TRUE(record.traced("FindF: File: X:\\b_changed.exe"));
        EXPECT_TRUE(record.traced("__ScanFile failed"));
        EXPECT_EQ(record.findings("b_changed.exe"), 0);
        EXPECT_EQ(record.findings("target.exe"), 0);
        EXPECT_EQ(record.findings("x:\\a_first.exe"), 1);
        EXPECT_EQ(record.findings("x:\\c_last.exe"), 1);
        // One tick an entry and one a hashed file: only the hash is missing.
        EXPECT_EQ(record.count(SCANMSG_OBJECT_TICK), objects - 1);
        EXPECT_TRUE(record.traced("FindF return 3 files had been scanned"));
    }
}

// A folder that is another drive's root belongs to that drive: the walk of
// the outer drive passes it by, and a scan of both finds its files once.
TEST_F(WalkerScan, DriveWalkStaysOnItsDrive) {
    const fs::path inner = m_box.folder("drive/inner");
    ASSERT_TRUE(m_box.mapDrive('Y', inner));
    m_box.plant(inner / "inside.exe", "inside another drive");
    m_box.plant(m_drive / "outside.exe", "on the outer drive");
    m_box.setSetting(names::kSmartExt, 0);

    ScanRecord outer = m_box.runFull(u"X:\\");
    EXPECT_EQ(outer.findings("outside.exe"), 1);
    EXPECT_EQ(outer.findings("inside.exe"), 0);
    EXPECT_FALSE(outer.traced("FindF: Folder: X:\\inner"));

    ScanRecord both = m_box.runFull(u"X:\\Y:\\");
    EXPECT_EQ(both.findings("outside.exe"), 1);
    EXPECT_EQ(both.findings("y:\\inside.exe"), 1);
    EXPECT_EQ(both.infected.size(), 2u);
}

// A kernel file system mounted inside the tree (here a second proc) is never
// entered: its files never end or change under the reader.
TEST_F(WalkerScan, PseudoFileSystemIsNeverEntered) {
    const fs::path kernel = m_box.folder("drive/kernel");
    if (::mount("proc", kernel.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        GTEST_SKIP() << "cannot mount a proc file system here";
    }
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{kernel};
    m_box.plant(m_drive / "beside.exe", "beside the kernel folder");
    m_box.setSetting(names::kSmartExt, 0);
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_FALSE(record.traced("FindF: Folder: X:\\kernel"));
    EXPECT_FALSE(record.traced("FindF: ->> Start path: X:\\kernel"));
    EXPECT_TRUE(record.traced("FindF: File: X:\\kernel"));
    EXPECT_EQ(record.findings("x:\\beside.exe"), 1);
}

// Two names that differ only in case are two files here: both are scanned.
// A file is reported under its lower-cased path unless that names another
// file or leads into another folder; then under its own spelling.
TEST_F(WalkerScan, NamesDifferingInCaseAreEachScanned) {
    m_box.plant(m_drive / "Evil.exe", "upper case one");
    m_box.plant(m_drive / "evil.exe", "lower case one");
    m_box.plant(m_drive / "Dir" / "One.exe", "in the folder of capitals");
    m_box.plant(m_drive / "dir" / "Two.exe", "in the lower-case folder");
    m_box.plant(m_drive / "Docs" / "ReadMe.exe", "no other spelling here");
    m_box.plant(m_drive / "Docs" / "notes.EXE", "no other spelling either");
    m_box.setSetting(names::kSmartExt, 0);
    ScanRecord record = m_box.runFull(u"X:\\");
    EXPECT_EQ(record.infected.size(), 6u);
    EXPECT_EQ(record.count(SCANMSG_INFECTED_TICK), 6);
    EXPECT_EQ(record.findings(":\\Evil.exe"), 1);
    EXPECT_EQ(record.findings(":\\evil.exe"), 1);
    EXPECT_EQ(record.findings("X:\\Dir\\One.exe"), 1);  // x:\dir is the other folder
    EXPECT_EQ(record.findings("x:\\dir\\two.exe"), 1);
    EXPECT_EQ(record.findings("x:\\docs\\readme.exe"), 1);
    EXPECT_EQ(record.findings("x:\\docs\\notes.exe"), 1);
}

}  // namespace
