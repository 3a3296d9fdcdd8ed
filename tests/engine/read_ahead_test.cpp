#include "engine/read_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/digest_text.h"
#include "common/scan_codes.h"
#include "engine/engine_test_support.h"
#include "platform/path.h"

using enginetest::Install;
using enginetest::Md5Upper;
using enginetest::Recorder;
using enginetest::RequestScope;

namespace {

// Past the read-ahead's rule that a file must have been left alone for a
// moment before a worker's digest may stand for it.
void LetFilesSettle() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

ReadAhead::Limits Limits(size_t workers) {
    ReadAhead::Limits limits;
    limits.workers = workers;
    limits.chunkBytes = 4096;
    limits.helperMinBytes = 0;
    return limits;
}

std::string DigestText(const ReadAheadResult& result) {
    return names::digestTextUpperAscii(result.md5.digest);
}

void Rewrite(const std::filesystem::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

// The installation's database loaded and the infection table ready, as a
// scan run has them before its walk.
void PrepareScanRun() {
    ASSERT_EQ(LoadDbFileData(), 1);
    UnscrambleDbText();
    ASSERT_TRUE(AllocateInfectionTable());
}

}  // namespace

TEST(ReadAhead, HandsOverTheOpenFileWithItsDigest) {
    Install install;
    Recorder recorder;
    RequestScope running(recorder);
    ReadAhead readAhead(Limits(2));
    // Sizes around the chunk a worker reads at a time.
    std::vector<std::pair<std::u16string, std::string>> files;
    for (size_t size : {0, 1, 4095, 4096, 4097, 10000}) {
        std::string content(size, 'a');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>('a' + i * 7 % 26);
        files.emplace_back(install.writeFile("f" + std::to_string(size) + ".bin", content),
                           content);
    }
    LetFilesSettle();
    std::vector<ReadAhead::Planned> plan;
    for (const auto& [path, content] : files) plan.push_back({path, content.size()});
    readAhead.plan(plan);
    readAhead.waitForPlanned();
    for (const auto& [path, content] : files) {
        ReadAheadResult result;
        ASSERT_TRUE(readAhead.take(path, result)) << content.size();
        EXPECT_TRUE(result.file.isOpen());
        ASSERT_TRUE(result.hashed);
        EXPECT_EQ(result.bytes, content.size());
        EXPECT_EQ(result.file.identityAtOpen().size, content.size());
        EXPECT_EQ(DigestText(result), Md5Upper(content));
        EXPECT_EQ(result.md5.listed, Md5Result::Listed::Unknown) << "no database loaded";
    }
    EXPECT_EQ(readAhead.digestsHandedOver(), files.size());
}

// With the database loaded, a worker looks each digest up as it hashes it,
// and the answer comes with the digest.
TEST(ReadAhead, AWorkerLooksTheDigestUp) {
    Install install;
    install.writeDatabase(Md5Upper("listed") + "\r\n");
    const std::u16string listed = install.writeFile("listed.exe", "listed");
    const std::u16string clean = install.writeFile("clean.exe", "clean");
    Recorder recorder;
    RequestScope running(recorder);
    ASSERT_NO_FATAL_FAILURE(PrepareScanRun());
    LetFilesSettle();
    {
        ReadAhead readAhead(Limits(2));
        readAhead.plan({{listed, 6}, {clean, 5}});
        readAhead.waitForPlanned();
        ReadAheadResult first, second;
        ASSERT_TRUE(readAhead.take(listed, first));
        ASSERT_TRUE(readAhead.take(clean, second));
        EXPECT_EQ(first.md5.listed, Md5Result::Listed::Yes);
        EXPECT_EQ(second.md5.listed, Md5Result::Listed::No);
    }  // the workers end before the database goes
    UnloadOVData();
    ReleaseInfectionTable();
}

TEST(ReadAhead, WhatIsNotHandedOverOrNotHashed) {
    Install install;
    Recorder recorder;
    RequestScope running(recorder);
    const std::u16string earlier = install.writeFile("earlier.bin", "planned first");
    const std::u16string large = install.writeFile("large.bin", std::string(300, 'x'));
    const std::u16string fresh = install.writeFile("fresh.bin", "just written");
    const std::u16string hostMissing = platform::toWindowsPath((install.root() / "gone.bin").string());

    ReadAhead::Limits limits = Limits(1);
    limits.maxFileBytes = 256;
    // Every file here counts as changed a moment ago, however slow the
    // machine: none may be hashed ahead.
    limits.settledNs = int64_t(3600) * 1'000'000'000;
    ReadAhead readAhead(limits);
    readAhead.plan({{earlier, 13}, {large, 300}, {fresh, 12}, {hostMissing, 0}});
    readAhead.waitForPlanned();

    ReadAheadResult result;
    EXPECT_FALSE(readAhead.take(u"C:\\never\\planned.bin", result));
    // Taking a later file gives up the ones before it.
    ASSERT_TRUE(readAhead.take(large, result));
    EXPECT_TRUE(result.file.isOpen());
    EXPECT_FALSE(result.hashed) << "a file over the size limit is opened, never read";
    EXPECT_FALSE(readAhead.take(earlier, result));

    ReadAheadResult changedJustNow;
    ASSERT_TRUE(readAhead.take(fresh, changedJustNow));
    EXPECT_FALSE(changedJustNow.hashed) << "a file changed a moment ago is left to the scan thread";
    EXPECT_FALSE(readAhead.take(hostMissing, result)) << "a failed open is the scan thread's";
    EXPECT_EQ(readAhead.digestsHandedOver(), 0u);
}

TEST(ReadAhead, WithoutWorkersOrAfterAStopNothingIsRead) {
    Install install;
    Recorder recorder;
    RequestScope running(recorder);
    const std::u16string path = install.writeFile("a.bin", "content");
    LetFilesSettle();
    {
        ReadAhead idle(Limits(0));
        idle.plan({{path, 7}});
        idle.waitForPlanned();
        ReadAheadResult result;
        EXPECT_FALSE(idle.take(path, result));
    }
    SetRunFlag(0);
    ReadAhead stopped(Limits(1));
    stopped.plan({{path, 7}});
    stopped.waitForPlanned();
    ReadAheadResult result;
    EXPECT_FALSE(stopped.take(path, result));
    SetRunFlag(1);
}

// The walk sends exactly the messages, traces included, whether each file
// is read by the scan thread or was read and hashed ahead by a worker.
TEST(ReadAhead, AWalkSendsTheSameMessagesWithOrWithoutIt) {
    Install install;
    const std::string infected = "planted content";
    const std::string large(5 * 1024 * 1024, 'L');
    install.writeDatabase(Md5Upper(infected) + "\r\n" + Md5Upper(large) + "\r\n");
    install.writeFile("tree/a.exe", "first");
    install.writeFile("tree/b.dll", infected);
    install.writeFile("tree/c.txt", "not on the smart list");
    install.writeFile("tree/d.sys", "");
    install.writeFile("tree/e.doc", std::string(300000, 'e'));
    install.writeFile("tree/f.scr", large);  // over the limit: never read
    install.writeFile("tree/sub/g.exe", infected);
    install.writeFile("tree/sub/h.pdf", "h");
    // A folder inside a sub-folder, and files after it: planned on from
    // each folder's end into what the walk takes next.
    install.writeFile("tree/sub/deeper/k.exe", "k");
    install.writeFile("tree/sub/zz.exe", "after the deeper folder");
    install.writeFile("tree/z.xls", "after the sub-folder");
    std::filesystem::create_symlink(install.root() / "tree/a.exe", install.root() / "tree/link.exe");
    for (int i = 0; i < 40; ++i) install.writeFile("tree/many/m" + std::to_string(i) + ".exe",
                                                 std::string(i * 100, static_cast<char>('a' + i % 26)));
    const std::u16string tree = platform::toWindowsPath((install.root() / "tree").string());
    LetFilesSettle();

    auto walk = [&](size_t workers, uint64_t* handedOver) {
        Recorder recorder;
        RequestScope scope(recorder);
        EXPECT_EQ(LoadDbFileData(), 1);
        UnscrambleDbText();
        EXPECT_TRUE(AllocateInfectionTable());
        ReadAheadScope readAhead(Limits(workers));
        FindF(tree.c_str(), 1);
        if (handedOver) *handedOver = CurrentReadAhead()->digestsHandedOver();
        ReleaseInfectionTable();
        return recorder.messages();
    };
    const std::vector<enginetest::Message> alone = walk(0, nullptr);
    uint64_t handedOver = 0;
    const std::vector<enginetest::Message> ahead = walk(2, &handedOver);
    EXPECT_GT(handedOver, 0u) << "no worker's digest was ever used";
    ASSERT_EQ(alone.size(), ahead.size());
    for (size_t i = 0; i < alone.size(); ++i) {
        EXPECT_EQ(alone[i].code, ahead[i].code) << i;
        EXPECT_EQ(alone[i].text, ahead[i].text) << i;
    }
    size_t findings = 0;
    for (const auto& m : ahead) findings += m.code == SCANMSG_REPORT_LINE;
    EXPECT_EQ(findings, 1u) << "one hash is reported once per scan run";
}

TEST(ReadAhead, AFileChangedAfterItWasHashedIsReadAgain) {
    Install install;
    const std::string before = "clean content, same size";
    const std::string after = "infected, and same size!";
    ASSERT_EQ(before.size(), after.size());
    install.writeDatabase(Md5Upper(after) + "\r\n");
    std::u16string path = install.writeFile("changing.exe", before);
    LetFilesSettle();

    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_NO_FATAL_FAILURE(PrepareScanRun());
    ReadAheadScope readAhead(Limits(1));
    CurrentReadAhead()->plan({{path, before.size()}});
    CurrentReadAhead()->waitForPlanned();
    Rewrite(platform::toHostPath(path), after);

    EXPECT_EQ(__ScanFile(path.data(), nullptr), 1);
    EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TICK), 1u);
    EXPECT_EQ(CurrentReadAhead()->digestsHandedOver(), 1u) << "handed over, then found stale";
    ReleaseInfectionTable();
}

// A sub-folder is listed, and its first files read ahead, while the walk
// is still at the files before it: the workers go on into it instead of
// waiting for the walk. It is listed once, then; what changes in it after
// that follows the rules for a file changed after its folder was listed: a
// file removed once a worker has it open is read as it was when opened, a
// file rewritten since it was read is read again, a file added is not seen.
TEST(ReadAhead, ASubFolderIsListedAndReadAheadWhileTheWalkIsAboveIt) {
    Install install;
    const std::string gone = "known bad, removed after it was read ahead";
    const std::string turned = "known bad, written after it was read ahead";
    install.writeDatabase(Md5Upper(gone) + "\r\n" + Md5Upper(turned) + "\r\n");
    install.writeFile("tree/a.exe", "before the sub-folder");
    install.writeFile("tree/sub/gone.exe", gone);
    install.writeFile("tree/sub/ok.exe", "clean when it was read ahead");
    const std::u16string tree = platform::toWindowsPath((install.root() / "tree").string());
    LetFilesSettle();

    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_NO_FATAL_FAILURE(PrepareScanRun());
    ReadAheadScope readAhead(Limits(2));
    const std::u16string before = u"FindF: File: " + tree + u"\\a.exe";
    recorder.onMessage([&](uint32_t code, const std::u16string& text) {
        if (code != SCANMSG_DEBUG || text != before) return;
        // Every file planned so far is read; then the sub-folder changes.
        CurrentReadAhead()->waitForPlanned();
        std::filesystem::remove(install.root() / "tree/sub/gone.exe");
        Rewrite(install.root() / "tree/sub/ok.exe", turned);
        install.writeFile("tree/sub/new.exe", gone);
    });
    EXPECT_EQ(FindF(tree.c_str(), 1), 1);  // the files of the folder asked for
    // Both of the sub-folder's files were read before the walk entered it;
    // ok.exe's digest was then found stale (a file just written is never
    // read by a worker).
    EXPECT_EQ(CurrentReadAhead()->digestsHandedOver(), 3u);
    const std::vector<std::u16string> lines = recorder.texts(SCANMSG_REPORT_LINE);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(u"gone.exe"), std::u16string::npos) << "read as it was when opened";
    EXPECT_NE(lines[1].find(u"ok.exe"), std::u16string::npos) << "read again";
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u"FindF return 2 files had been scanned"));
    ReleaseInfectionTable();
}

// Many files, small and large, taken in walk order while two workers claim
// them in runs: each take is the very file with its own digest, or nothing,
// and a file the walk passed is never handed over afterwards.
TEST(ReadAhead, ATakeInAManyFilePlanIsThatFileOrNothing) {
    Install install;
    Recorder recorder;
    RequestScope running(recorder);
    std::vector<std::pair<std::u16string, std::string>> files;
    for (int i = 0; i < 300; ++i) {
        // Now and then a file of more than one read, over a run of small files.
        const size_t size = i % 37 == 0 ? 300000 + i : 1 + (i * 131) % 3000;
        std::string content(size, static_cast<char>('a' + i % 26));
        content[0] = static_cast<char>(i);
        files.emplace_back(install.writeFile("many/f" + std::to_string(i) + ".bin", content),
                           content);
    }
    LetFilesSettle();
    ReadAhead readAhead(Limits(2));
    size_t planned = 0;
    size_t handedOver = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        // Planned a little at a time, as a walk lists a folder; every other
        // batch without sizes, as a walk lists files, so that a worker's run
        // may hold a large file and give the files behind it back.
        while (planned < files.size() && planned < i + 40) {
            std::vector<ReadAhead::Planned> batch;
            const bool sized = planned % 20 == 0;
            for (size_t end = std::min(files.size(), planned + 10); planned < end; ++planned)
                batch.push_back({files[planned].first, sized ? files[planned].second.size() : 0});
            readAhead.plan(std::move(batch));
        }
        // Now and then the workers get ahead, otherwise the takes race them.
        if (i % 30 == 0) readAhead.waitForPlanned();
        if (i % 7 == 3) continue;  // passed by the walk
        ReadAheadResult result;
        if (!readAhead.take(files[i].first, result)) continue;
        ASSERT_TRUE(result.file.isOpen()) << i;
        if (!result.hashed) continue;
        ++handedOver;
        EXPECT_EQ(result.bytes, files[i].second.size()) << i;
        EXPECT_EQ(DigestText(result), Md5Upper(files[i].second)) << i;
    }
    ReadAheadResult result;
    for (size_t i = 3; i < files.size(); i += 7)
        EXPECT_FALSE(readAhead.take(files[i].first, result)) << "passed, yet handed over: " << i;
    EXPECT_EQ(readAhead.digestsHandedOver(), handedOver);
    EXPECT_GT(handedOver, 0u);
}
