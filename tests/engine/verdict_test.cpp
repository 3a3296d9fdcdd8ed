#include <gtest/gtest.h>

#include <cstdio>

#include "common/scan_codes.h"
#include "engine/engine_test_support.h"

using enginetest::Install;
using enginetest::Recorder;
using enginetest::RequestScope;

namespace {
constexpr char kEmpty[] = "D41D8CD98F00B204E9800998ECF8427E";

// Loads the installation's database into the running "scan".
void Load() {
    ASSERT_EQ(LoadDbFileData(), 1);
    UnscrambleDbText();
    ASSERT_TRUE(AllocateInfectionTable());
}
}  // namespace

TEST(Verdict, EmptyInputIsAHitOnlyWhenItsHashIsListed) {
    for (bool listed : {false, true}) {
        Install install;
        install.writeDatabase(listed ? std::string(kEmpty) + "\r\n" : "0123\r\n");
        Recorder recorder;
        RequestScope scope(recorder);
        Load();
        EXPECT_EQ(GenerateCryptoMd5Buffer("", 0, u"C:\\empty", nullptr), 0u);
        EXPECT_TRUE(
            recorder.contains(SCANMSG_DEBUG,
                              u" ScanHashData: HASH: D41D8CD98F00B204E9800998ECF8427E | File: "
                              u"C:\\empty | Extra: (null)"));
        EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 1u);
        EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TICK), listed ? 1u : 0u);
        EXPECT_EQ(recorder.count(SCANMSG_REPORT_LINE), listed ? 1u : 0u);
        if (listed) {
            EXPECT_TRUE(recorder.contains(SCANMSG_REPORT_LINE,
                                          u" Infected Generic Malware: C:\\empty [(null)]."));
            EXPECT_TRUE(recorder.contains(SCANMSG_THREAT_TYPE, u"Malware"));
            EXPECT_TRUE(recorder.contains(SCANMSG_INFECTED_TEXT, u"### C:\\empty -> Infected!"));
        } else {
            EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u" ScanHashData, step 6 -> C:\\empty OK"));
        }
    }
}

TEST(Verdict, TwoFilesWithTheSameContentAreReportedOnce) {
    Install install;
    const std::string content = "the same bad bytes";
    install.writeDatabase(enginetest::Md5Upper(content) + "\r\n");
    std::u16string first = install.writeFile("a/one.bin", content);
    std::u16string second = install.writeFile("b/two.bin", content);
    Recorder recorder;
    RequestScope scope(recorder);
    Load();
    EXPECT_EQ(__ScanFile(first.data(), nullptr), 1);
    EXPECT_EQ(__ScanFile(second.data(), nullptr), 1);
    EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 2u);
    EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TICK), 1u);
    ASSERT_EQ(recorder.count(SCANMSG_REPORT_LINE), 1u);
    EXPECT_EQ(recorder.texts(SCANMSG_REPORT_LINE)[0],
              u" Infected Generic Malware: " + first + u" [(null)].");
    EXPECT_EQ(recorder.texts(SCANMSG_INFECTED_TEXT),
              (std::vector<std::u16string>{u"### " + first + u" -> Infected!",
                                           u"### " + second + u" -> Infected!"}));
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u" AddFileToReport, step 2"));
}

TEST(Verdict, AFullInfectionTableDropsFurtherFindings) {
    // Over 100,000 messages: a window that only counts what matters here.
    size_t reportLines = 0, infectedTicks = 0, tableFull = 0, known = 0;
    platform::WindowHandle window =
        platform::createWindow([&](uint32_t code, const char16_t* text) -> intptr_t {
            if (code == SCANMSG_REPORT_LINE) ++reportLines;
            if (code == SCANMSG_INFECTED_TICK) ++infectedTicks;
            if (code == SCANMSG_DEBUG && std::u16string_view(text) == u" AddFileToReport, step 4")
                ++tableFull;
            if (code == SCANMSG_DEBUG && std::u16string_view(text) == u" AddFileToReport, step 2")
                ++known;
            return 0;
        });
    ScanRequest request{};
    request.hwndNotify = window;
    SetCurrentRequest(&request);
    ASSERT_TRUE(AllocateInfectionTable());
    char hash[40];
    for (int i = 0; i < 2049; ++i) {
        std::snprintf(hash, sizeof hash, "%032X", i);
        std::u16string hash16 = enginetest::U16(hash);
        AddFileToReport(u"C:\\f", hash16.c_str(), u"Malware", nullptr);
    }
    EXPECT_EQ(reportLines, 2048u);
    EXPECT_EQ(infectedTicks, 2048u);
    EXPECT_EQ(tableFull, 1u);
    // A hash already in the full table is still recognised as known.
    AddFileToReport(u"C:\\g", u"00000000000000000000000000000005", u"Malware", nullptr);
    EXPECT_EQ(known, 1u);
    EXPECT_EQ(reportLines, 2048u);
    ReleaseInfectionTable();
    SetCurrentRequest(nullptr);
    platform::destroyWindow(window);
}

TEST(Verdict, AShortThreatTypeIsNeverRecorded) {
    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_TRUE(AllocateInfectionTable());
    AddFileToReport(u"C:\\f", u"00000000000000000000000000000001", u"Bad", u"HKLM|x|y");
    EXPECT_EQ(recorder.count(SCANMSG_REPORT_LINE), 0u);
    AddFileToReport(u"C:\\f", u"00000000000000000000000000000001", u"Worm", u"HKLM|x|y");
    EXPECT_TRUE(
        recorder.contains(SCANMSG_REPORT_LINE, u" Infected Generic Worm: C:\\f [HKLM|x|y]."));
}

TEST(Verdict, AStopBetweenHashingAndLookupGivesNoVerdict) {
    Install install;
    install.writeDatabase(std::string(kEmpty) + "\r\n");
    Recorder recorder;
    RequestScope scope(recorder);
    Load();
    SetRunFlag(0);
    ScanHashData(u"D41D8CD98F00B204E9800998ECF8427E", u"C:\\x", nullptr);
    SetRunFlag(1);
    EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 1u);
    EXPECT_EQ(recorder.count(SCANMSG_CURRENT_FILE), 0u);
    EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TEXT), 0u);
}
