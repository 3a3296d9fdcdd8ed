#include "app/results/quarantine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "app/results/record_header.h"
#include "app/results/results_sandbox_support.h"
#include "app/results/threat_management.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

const std::u16string kFolder = u"..\\infected";

std::u16string header(const std::u16string& path, const std::u16string& location = u"(null)",
                      const std::u16string& type = u"Malware") {
    return BuildRecordHeaderText(path, location, type);
}

TEST(QuarantineRecord, EmptyFileGivesTheBareHeaderNamedAfterTheEmptyDigest) {
    ResultsSandbox box;
    box.write("home/empty.exe", "");
    std::u16string path = box.windows("home/empty.exe");
    QuarantineOutcome outcome = QuarantineFile(kFolder, path + u" ", header(path + u" "));
    ASSERT_EQ(outcome.code, 0u);
    EXPECT_EQ(outcome.recordName, u"d41d8cd98f00b204e9800998ecf8427e.ovm");
    std::string bytes = box.read("infected/d41d8cd98f00b204e9800998ecf8427e.ovm");
    ASSERT_EQ(bytes.size(), 512u);
    std::u16string text = header(path + u" ");
    EXPECT_EQ(bytes.substr(0, text.size() * 2), platform::toUtf16LeBytes(text));
    EXPECT_EQ(bytes.substr(text.size() * 2), std::string(512 - text.size() * 2, '\0'));
    EXPECT_EQ(bytes.substr(0, 12), platform::toUtf16LeBytes(u"OVQF\n\r"));
    EXPECT_FALSE(box.exists("home/empty.exe"));

    uint32_t attributes =
        platform::getFileAttributes(box.windows("infected/d41d8cd98f00b204e9800998ecf8427e.ovm"));
    EXPECT_EQ(
        attributes & (platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem),
        platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem);
    EXPECT_EQ(box.records().size(), 1u);
}

TEST(QuarantineRecord, Md5HexStringIsLowerCaseHighNibbleFirst) {
    EXPECT_EQ(Md5HexString("", 0), u"d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5HexString("abc", 3), u"900150983cd24fb0d6963f7d28e17f72");
}

TEST(QuarantineRecord, ContentFollowsTheHeaderUnchanged) {
    ResultsSandbox box;
    std::string content("MZ\0\x01\xff binary", 12);
    box.write("home/a.exe", content);
    std::u16string path = box.windows("home/a.exe");
    QuarantineOutcome outcome = QuarantineFile(kFolder, path, header(path));
    ASSERT_EQ(outcome.code, 0u);
    std::string bytes = box.read("infected/" + platform::toUtf8(outcome.recordName));
    EXPECT_EQ(bytes.substr(512), content);
}

TEST(QuarantineRecord, LongPathIsCutInTheHeaderAndStillRestoredToItself) {
    ResultsSandbox box;
    std::string relative = "home";
    while (box.windows(relative).size() < 300) relative += "/" + std::string(20, 'd');
    relative += "/file.exe";
    box.write(relative, "long path content");
    std::u16string path = box.windows(relative);
    ASSERT_GE(path.size(), 300u);
    QuarantineOutcome outcome =
        QuarantineFile(kFolder, path, header(path, u"HKEY_CURRENT_USER\\a\\b"));
    ASSERT_EQ(outcome.code, 0u);
    std::string bytes = box.read("infected/" + platform::toUtf8(outcome.recordName));
    // Only 256 characters are kept, with no terminating zero inside the 512 bytes.
    EXPECT_EQ(bytes.substr(0, 512), platform::toUtf16LeBytes(header(path).substr(0, 256)));
    RecordHeader values = ParseRecordHeader(bytes);
    EXPECT_FALSE(values.fileName.complete);
    EXPECT_EQ(values.location.value, u"");
    EXPECT_EQ(values.malwareType.value, u"");
    EXPECT_FALSE(box.exists(relative));

    RestoreOutcome restored = RestoreRecord(kFolder, outcome.recordName);
    EXPECT_EQ(restored.code, 0u) << platform::toUtf8(restored.message);
    EXPECT_EQ(restored.target, path);
    EXPECT_EQ(box.read(relative), "long path content");
    EXPECT_TRUE(box.records().empty());
    EXPECT_FALSE(
        box.exists("infected/" + platform::toUtf8(outcome.recordName.substr(0, 32)) + ".ovp"));
}

TEST(QuarantineRecord, PathReportedInOtherCaseIsRestoredUnderTheFilesOwnName) {
    ResultsSandbox box;
    box.write("home/Invoice.PDF.exe", "case");
    // The engine reports some paths lower-cased; column 0 keeps a blank.
    std::u16string reported = platform::toLower(box.windows("home/Invoice.PDF.exe")) + u" ";
    QuarantineOutcome outcome = QuarantineFile(kFolder, reported, header(reported));
    ASSERT_EQ(outcome.code, 0u);
    EXPECT_FALSE(box.exists("home/Invoice.PDF.exe"));
    std::vector<QuarantineItem> items = ListQuarantine(kFolder);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].item, reported);
    EXPECT_EQ(items[0].originalPath, box.windows("home/Invoice.PDF.exe"));
    EXPECT_EQ(RestoreRecord(kFolder, outcome.recordName).code, 0u);
    EXPECT_EQ(box.read("home/Invoice.PDF.exe"), "case");
    EXPECT_FALSE(box.exists("home/invoice.pdf.exe"));
}

TEST(QuarantineRecord, RestoredFileGetsItsOwnerAndModeBack) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    ResultsSandbox box;
    // Owned by another user, readable by its group only: a restore made by
    // root must not hand it back world-readable and root's.
    box.write("home/own.exe", "private");
    std::string host = box.host("home/own.exe").string();
    ASSERT_EQ(::chown(host.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(host.c_str(), 0640), 0);
    std::u16string path = box.windows("home/own.exe");
    QuarantineOutcome outcome = QuarantineFile(kFolder, path, header(path));
    ASSERT_EQ(outcome.code, 0u);
    ASSERT_EQ(RestoreRecord(kFolder, outcome.recordName).code, 0u);
    struct stat st {};
    ASSERT_EQ(::stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(box.read("home/own.exe"), "private");
}

TEST(QuarantineRecord, CutPathWithoutItsFullFormIsNeverRestoredToAGuess) {
    ResultsSandbox box;
    std::u16string path = box.windows("home/") + std::u16string(300, u'x');
    std::string bytes = RecordHeaderBytes(header(path)) + "content";
    box.write("infected/0123456789abcdef0123456789abcdef.ovm", bytes);
    RestoreOutcome restored = RestoreRecord(kFolder, u"0123456789abcdef0123456789abcdef.ovm");
    EXPECT_NE(restored.code, 0u);
    EXPECT_EQ(restored.message.rfind(u"Create File ", 0), 0u);
    EXPECT_EQ(box.records().size(), 1u);
}

TEST(QuarantineRecord, SameContentTwiceKeepsTheRecordAndRemovesTheSecondSource) {
    ResultsSandbox box;
    box.write("home/one.exe", "same bytes");
    box.write("home/two.exe", "same bytes");
    QuarantineOutcome first =
        QuarantineFile(kFolder, box.windows("home/one.exe"), header(box.windows("home/one.exe")));
    QuarantineOutcome second =
        QuarantineFile(kFolder, box.windows("home/two.exe"), header(box.windows("home/two.exe")));
    EXPECT_EQ(first.code, 0u);
    EXPECT_FALSE(first.alreadyQuarantined);
    EXPECT_EQ(second.code, 0u);
    EXPECT_TRUE(second.alreadyQuarantined);
    EXPECT_EQ(first.recordName, second.recordName);
    EXPECT_FALSE(box.exists("home/two.exe"));
    EXPECT_EQ(box.records().size(), 1u);
    // The first source's header is kept.
    std::vector<QuarantineItem> items = ListQuarantine(kFolder);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].item, box.windows("home/one.exe"));
}

TEST(QuarantineRecord, ReadOnlySourceIsQuarantinedToo) {
    ResultsSandbox box;
    box.write("home/ro.exe", "ro");
    ::chmod(box.host("home/ro.exe").c_str(), 0444);
    EXPECT_EQ(QuarantineFile(kFolder, box.windows("home/ro.exe"), header(u"x")).code, 0u);
    EXPECT_FALSE(box.exists("home/ro.exe"));
}

// A child quarantines a file and is killed at one step; what it leaves must
// be the source or a complete record.
class QuarantineKilled : public testing::TestWithParam<QuarantineStep> {};

TEST_P(QuarantineKilled, LeavesTheSourceOrACompleteRecord) {
    ResultsSandbox box;
    const std::string content(100000, 'k');
    box.write("home/k.exe", content);
    std::u16string path = box.windows("home/k.exe");
    std::u16string text = header(path);
    QuarantineStep killAt = GetParam();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QuarantineFile(kFolder, path, text, [killAt](QuarantineStep at) {
            if (at == killAt) ::raise(SIGKILL);
        });
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child was not stopped at that step";

    bool sourceThere = box.exists("home/k.exe") && box.read("home/k.exe") == content;
    std::vector<std::string> records = box.records();
    bool recordComplete = records.size() == 1 &&
                          box.read("infected/" + records[0]) == RecordHeaderBytes(text) + content;
    EXPECT_TRUE(sourceThere || recordComplete);
    if (!records.empty()) {
        EXPECT_TRUE(recordComplete);
    }
    // Killed before the record was in place, the source is whole; after, the record is.
    if (killAt < QuarantineStep::RecordInPlace) {
        EXPECT_TRUE(sourceThere);
    } else {
        EXPECT_TRUE(recordComplete);
    }
    // A later quarantine of the same file completes over what was left.
    if (sourceThere) {
        EXPECT_EQ(QuarantineFile(kFolder, path, text).code, 0u);
        EXPECT_EQ(box.records().size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, QuarantineKilled,
                         testing::Values(QuarantineStep::SourceRead, QuarantineStep::PartWritten,
                                         QuarantineStep::PartFlushed, QuarantineStep::RecordInPlace,
                                         QuarantineStep::FolderFlushed,
                                         QuarantineStep::SourceDeleted,
                                         QuarantineStep::AttributesSet));

TEST(QuarantineList, DateIsSpacePaddedUtc) {
    // 5 March 2026 07:08:09 UTC
    EXPECT_EQ(QuarantineDateText(1772694489), u" 3/ 5/2026  7: 8: 9");
    ResultsSandbox box;
    box.write("home/d.exe", "d");
    QuarantineOutcome outcome =
        QuarantineFile(kFolder, box.windows("home/d.exe"), header(box.windows("home/d.exe")));
    ASSERT_EQ(outcome.code, 0u);
    std::string record = box.host("infected/" + platform::toUtf8(outcome.recordName)).string();
    struct timespec times[2] = {{1772694489, 0}, {1772694489, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, record.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    std::vector<QuarantineItem> items = ListQuarantine(kFolder);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].date, u" 3/ 5/2026  7: 8: 9");
    EXPECT_EQ(items[0].type, u"Generic Malware");
    EXPECT_EQ(items[0].location, u"(null)");
}

TEST(QuarantineRestore, OntoAPlantedLinkIsRefusedAndTheRecordStays) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a link of another user";
    ResultsSandbox box;
    box.write("home/user/victim.txt", "keep me");
    box.write("home/user/p.exe", "payload");
    std::u16string path = box.windows("home/user/p.exe");
    QuarantineOutcome outcome = QuarantineFile(kFolder, path, header(path));
    ASSERT_EQ(outcome.code, 0u);
    // Another user puts a link where the file was.
    std::string link = box.host("home/user/p.exe").string();
    ASSERT_EQ(::symlink("victim.txt", link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);

    std::vector<std::u16string> shown;
    ThreatManagement threats([&shown](const std::u16string& text) { shown.push_back(text); });
    threats.LoadAllQItems();
    threats.DoRestoreItem();
    EXPECT_EQ(box.read("home/user/victim.txt"), "keep me");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0], u"Create File " + path + u", code: 5");
    EXPECT_EQ(box.records().size(), 1u);
    EXPECT_EQ(threats.notRestored().size(), 1u);
}

TEST(QuarantineRestore, TwoRecordsComeBackWithTheirRunValuesKept) {
    ResultsSandbox box;
    box.write("home/a.exe", "aaa");
    box.write("home/b.exe", "bbb");
    const std::u16string a = box.windows("home/a.exe"), b = box.windows("home/b.exe");
    std::u16string runA = std::u16string(u"HKEY_CURRENT_USER\\") + kRunKey + u"\\A";
    std::u16string runB =
        std::u16string(u"DoScanRegistryLocations: HKEY_CURRENT_USER\\") + kRunKey + u"\\B";
    ASSERT_EQ(QuarantineFile(kFolder, a, header(a, runA)).code, 0u);
    ASSERT_EQ(QuarantineFile(kFolder, b, header(b, runB)).code, 0u);

    std::vector<std::u16string> shown;
    ThreatManagement threats([&shown](const std::u16string& text) { shown.push_back(text); });
    threats.LoadAllQItems();
    ASSERT_EQ(threats.rows().size(), 2u);
    threats.DoRestoreItem();
    EXPECT_TRUE(shown.empty()) << platform::toUtf8(shown.empty() ? u"" : shown[0]);
    EXPECT_EQ(box.read("home/a.exe"), "aaa");
    EXPECT_EQ(box.read("home/b.exe"), "bbb");
    std::u16string data;
    EXPECT_TRUE(RunValueExists(u"A", &data));
    EXPECT_EQ(data, a);
    EXPECT_TRUE(RunValueExists(u"B", &data));
    EXPECT_EQ(data, b);
    EXPECT_TRUE(box.records().empty());

    // Deleting afterwards from the same (not reloaded) list leaves the restored values alone.
    threats.DoDeleteInfectedFile();
    EXPECT_TRUE(RunValueExists(u"A"));
    EXPECT_TRUE(RunValueExists(u"B"));
}

TEST(QuarantineRestore, AFailedTargetKeepsItsRecordAndTheOthersGoOn) {
    ResultsSandbox box;
    box.write("home/gone/x.exe", "xxx");
    box.write("home/y.exe", "yyy");
    ASSERT_EQ(QuarantineFile(kFolder, box.windows("home/gone/x.exe"),
                             header(box.windows("home/gone/x.exe")))
                  .code,
              0u);
    ASSERT_EQ(
        QuarantineFile(kFolder, box.windows("home/y.exe"), header(box.windows("home/y.exe"))).code,
        0u);
    std::filesystem::remove(box.host("home/gone"));
    std::vector<std::u16string> shown;
    ThreatManagement threats([&shown](const std::u16string& text) { shown.push_back(text); });
    threats.LoadAllQItems();
    threats.DoRestoreItem();
    EXPECT_EQ(box.read("home/y.exe"), "yyy");
    EXPECT_EQ(box.records().size(), 1u);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], u"Create File " + box.windows("home/gone/x.exe") + u", code: 3");
    EXPECT_NE(shown[1].find(box.windows("home/gone/x.exe")), std::u16string::npos);
}

TEST(QuarantineDelete, RemovesEveryRecordInSpiteOfItsAttributesAndDeletesTheirValues) {
    ResultsSandbox box;
    box.write("home/a.exe", "a1");
    box.write("home/b.exe", "b1");
    std::u16string runA = std::u16string(u"HKEY_CURRENT_USER\\") + kRunKey + u"\\A";
    ASSERT_EQ(QuarantineFile(kFolder, box.windows("home/a.exe"), header(u"a", runA)).code, 0u);
    ASSERT_EQ(QuarantineFile(kFolder, box.windows("home/b.exe"), header(u"b")).code, 0u);
    SetRunValue(u"A", u"again");
    ThreatManagement threats;
    threats.LoadAllQItems();
    threats.DoDeleteInfectedFile();
    EXPECT_TRUE(box.records().empty());
    EXPECT_EQ(threats.lastRemovedCount(), 2u);
    EXPECT_FALSE(RunValueExists(u"A"));
}

}  // namespace
