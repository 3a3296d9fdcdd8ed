#include <gtest/gtest.h>

#include "common/scan_codes.h"
#include "engine/engine_test_support.h"
#include "platform/path.h"

using enginetest::Install;
using enginetest::Recorder;
using enginetest::RequestScope;

namespace {

void Load() {
    ASSERT_EQ(LoadDbFileData(), 1);
    UnscrambleDbText();
    ASSERT_TRUE(AllocateInfectionTable());
}

std::u16string Translated(const std::u16string& input) {
    std::u16string copy = input;
    auto result = TranslatePath(copy.data());
    return result ? std::u16string(result.get()) : u"<null>";
}

}  // namespace

TEST(TranslatePath, Examples) {
    Recorder recorder;
    RequestScope scope(recorder);
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"\\SystemRoot\\System32\\drivers\\x.sys", u"c:\\windows\\System32\\drivers\\x.sys"},
        {u"C:\\Windows\\system32\\svchost.exe -k netsvcs", u"c:\\windows\\system32\\svchost.exe"},
        {u"c:\\tools\\a.exe /quiet", u"c:\\tools\\a.exe"},
        {u"d:\\x\\y.dll", u"d:\\x\\y.dll"},
        {u"%programfiles%\\app\\a.exe", u"c:\\program Files\\\\app\\a.exe"},
        {u"%systemroot%\\system32\\b.dll", u"c:\\windows\\\\system32\\b.dll"},
        {u"system32\\drivers\\z.sys", u"c:\\windows\\system32\\drivers\\z.sys"},
        {u"C:\\data\\notes.txt", u"C:\\data\\notes.txt"},  // no program extension: unchanged
        {u"C:\\PROGRA~1\\x.exe -y", u"C:\\PROGRA"},        // cut at the "~"
        {u"C:\\Apps\\tool.exe", u"<null>"},                // extension but no known token
        {u"", u"<null>"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(Translated(input), expected) << std::string(input.begin(), input.end());
    // The caller's text is cut in place.
    std::u16string text = u"C:\\x\u00e9\\a.exe";
    TranslatePath(text.data());
    EXPECT_EQ(std::u16string(text.c_str()), u"C:\\x");
}

TEST(TranslatePath, SystemRootCopyIsTracedCharacterByCharacter) {
    Recorder recorder;
    RequestScope scope(recorder);
    std::u16string text = u"\\SystemRoot\\a.sys";
    TranslatePath(text.data());
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.2 c:\\windows"));
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.3.11"));
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.3.16"));
    EXPECT_FALSE(recorder.contains(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.3.17"));
}

TEST(RemoveBadChars, CutsArgumentsAfterTheProgram) {
    Recorder recorder;
    RequestScope scope(recorder);
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\a.exe /s", u"C:\\a.exe"},
        {u"C:\\a.exe -s", u"C:\\a.exe"},
        // A quoted program path keeps its leading quotation mark.
        {u"\"C:\\Program Files\\x\\a.exe\" /S", u"\"C:\\Program Files\\x\\a.exe"},
        {u"C:\\a.exe \"x\"", u"C:\\a.exe \"x\""},
        // The first pattern that occurs at all wins, not the first position.
        {u"C:\\a.exe -x C:\\b.exe /y", u"C:\\a.exe -x C:\\b.exe"},
    };
    for (const auto& [input, expected] : cases) {
        std::u16string text = input;
        ASSERT_NE(RemoveBadChars(text.data()), nullptr);
        EXPECT_EQ(std::u16string(text.c_str()), expected);
    }
    std::u16string empty;
    EXPECT_EQ(RemoveBadChars(empty.data()), nullptr);
    EXPECT_EQ(RemoveBadChars(nullptr), nullptr);
}

TEST(ScanFile, TheFiveMebibyteLimit) {
    Install install;
    const std::string below(5242879, 'x');
    const std::string at(5242880, 'x');
    install.writeDatabase(enginetest::Md5Upper(below) + "\r\n" + enginetest::Md5Upper(at) + "\r\n");
    std::u16string belowPath = install.writeFile("below.bin", below);
    std::u16string atPath = install.writeFile("at.bin", at);
    Recorder recorder;
    RequestScope scope(recorder);
    Load();
    EXPECT_EQ(__ScanFile(belowPath.data(), nullptr), 1);
    EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 1u);
    EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TICK), 1u);
    recorder.clear();
    EXPECT_EQ(__ScanFile(atPath.data(), nullptr), 1);
    EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 0u);
    EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TICK), 0u);
}

TEST(ScanFile, NamesTheTranslationCannotOpenAreTriedAsGiven) {
    Install install;
    const std::string content = "payload hidden behind its name";
    install.writeDatabase(enginetest::Md5Upper(content) + "\r\n");
    struct Case {
        std::string file;
        std::u16string (*given)(const std::u16string& path);
    };
    const Case cases[] = {
        {"malw\xC3\xA4re.exe", [](const std::u16string& p) { return p; }},
        {"x~1/evil.bin", [](const std::u16string& p) { return p; }},
        {"br{a}ce|s.dll", [](const std::u16string& p) { return p; }},
        {"Program Files/quoted.exe", [](const std::u16string& p) { return u"\"" + p + u"\" /S"; }},
    };
    for (const Case& c : cases) {
        std::u16string path = install.writeFile(c.file, content);
        std::u16string given = c.given(path);
        Recorder recorder;
        RequestScope scope(recorder);
        Load();
        EXPECT_EQ(__ScanFile(given.data(), nullptr), 1) << c.file;
        EXPECT_EQ(
            recorder.texts(SCANMSG_REPORT_LINE),
            (std::vector<std::u16string>{u" Infected Generic Malware: " + path + u" [(null)]."}))
            << c.file;
    }
}

TEST(ScanFile, UnusablePathsAndStops) {
    Recorder recorder;
    RequestScope scope(recorder);
    std::u16string shortPath = u"C:";
    EXPECT_EQ(__ScanFile(shortPath.data(), nullptr), 0);
    EXPECT_EQ(__ScanFile(nullptr, nullptr), 0);
    std::u16string missing = u"C:\\no\\such\\file.bin";
    EXPECT_EQ(__ScanFile(missing.data(), nullptr), 0);
    SetRunFlag(0);
    EXPECT_EQ(__ScanFile(missing.data(), nullptr), 1);
    SetRunFlag(1);
}

TEST(ScanFile, AnEmptyFileIsHashedAndCounted) {
    Install install;
    install.writeDatabase("D41D8CD98F00B204E9800998ECF8427E\r\n");
    std::u16string path = install.writeFile("empty.txt", "");
    Recorder recorder;
    RequestScope scope(recorder);
    Load();
    EXPECT_EQ(__ScanFile(path.data(), nullptr), 1);
    EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 1u);
    EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TICK), 1u);
}
