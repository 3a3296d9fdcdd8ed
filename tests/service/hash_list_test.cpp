// FlipFile's plain list "..\data\hmem.tmp" and the lookup the check makes in it.
#include "service/hash_list.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/hash_db_format.h"
#include "service/service_in_process_support.h"
#include "service/service_state.h"

namespace svctest {
namespace {

// What reading the list line by line in 511-byte pieces finds.
bool pieceSearch(const std::string& text, const std::string& hash) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && end - at < ovsvc::kHashListPieceBytes) {
            if (text[end++] == '\n') break;
        }
        std::string piece = text.substr(at, end - at);
        if (std::strstr(piece.c_str(), hash.c_str())) return true;
        at = end;
    }
    return false;
}

constexpr char kOther[] = "D41D8CD98F00B204E9800998ECF8427E";

TEST(HashList, KeyByteAndScrambleRoundTrip) {
    EXPECT_EQ(ovsvc::hashListKeyByte(), names::databaseKeyByte());
    std::string text = "44D88612FEA8A8F36DE82E1278ABB02F\r\n";
    std::string buffer = text;
    ovsvc::ScrambleBuffer(reinterpret_cast<uint8_t*>(buffer.data()), buffer.size());
    EXPECT_NE(buffer, text);
    ovsvc::ScrambleBuffer(reinterpret_cast<uint8_t*>(buffer.data()), buffer.size());
    EXPECT_EQ(buffer, text);
    // A zero byte ends the scrambling.
    std::string zero("AB\0CD", 5);
    ovsvc::ScrambleBuffer(reinterpret_cast<uint8_t*>(zero.data()), zero.size());
    EXPECT_EQ(zero.substr(2), std::string("\0CD", 3));
}

TEST(HashList, FlipFileWritesThePlainListAndOpensIt) {
    InProcessService service;
    service.sandbox().writeDatabase(std::string(kEicarMd5) + "\r\n" + kOther + "\r\n");
    ovsvc::FlipFile();
    EXPECT_EQ(ReadText(service.sandbox().root() / "data" / "hmem.tmp"),
              std::string(kEicarMd5) + "\r\n" + kOther + "\r\n");
    const ovsvc::HashList& list = ovsvc::serviceState().hashList;
    EXPECT_TRUE(list.present());
    EXPECT_TRUE(list.contains(kEicarMd5));
    EXPECT_TRUE(list.contains(kOther));
    EXPECT_FALSE(list.contains("00000000000000000000000000000000"));
    EXPECT_EQ(service.log(),
              "FlipFile: open file for reading...FlipFile: allocation memory...FlipFile: OK\n"
              "FlipFile: reading file...FlipFile: OK\n"
              "FlipFile: encrypt data...FlipFile: OK\n"
              "FlipFile: open file for writting...FlipFile: OK\n"
              "FlipFile: OK\n"
              "FlipFile:  file OK...\n");
}

TEST(HashList, AZeroByteInTheStoredDatabaseEndsTheUnscrambling) {
    InProcessService service;
    std::string first, second;
    ASSERT_TRUE(names::scrambleDatabaseText(std::string(kEicarMd5) + "\r\n", first, nullptr));
    ASSERT_TRUE(names::scrambleDatabaseText(std::string(kOther) + "\r\n", second, nullptr));
    const std::string stored = first + std::string(1, '\0') + second;
    WriteText(service.sandbox().root() / "data" / "hashdb.dbf", stored);
    ovsvc::FlipFile();
    EXPECT_EQ(ReadText(service.sandbox().root() / "data" / "hmem.tmp"),
              std::string(kEicarMd5) + "\r\n" + std::string(1, '\0') + second);
    const ovsvc::HashList& list = ovsvc::serviceState().hashList;
    EXPECT_TRUE(list.contains(kEicarMd5));
    EXPECT_FALSE(list.contains(kOther));
}

TEST(HashList, AnEmptyDatabaseGivesAnEmptyPresentList) {
    InProcessService service;
    WriteText(service.sandbox().root() / "data" / "hashdb.dbf", "");
    ovsvc::FlipFile();
    EXPECT_TRUE(ovsvc::serviceState().hashList.present());
    EXPECT_FALSE(ovsvc::serviceState().hashList.contains(kEicarMd5));
    EXPECT_EQ(ReadText(service.sandbox().root() / "data" / "hmem.tmp"), "");
}

TEST(HashList, AMissingDatabaseLeavesTheListAbsent) {
    InProcessService service;
    fs::remove(service.sandbox().root() / "data" / "hashdb.dbf");
    ovsvc::FlipFile();
    EXPECT_FALSE(ovsvc::serviceState().hashList.present());
    EXPECT_EQ(service.log(), "FlipFile: open file for reading...FlipFile:  ERROR 2\n");
}

TEST(HashList, TheIndexGivesTheVerdictsOfThePieceSearch) {
    const std::string hash = kEicarMd5;
    struct Case {
        const char* name;
        std::string text;
    } const cases[] = {
        {"lines", hash + "\r\n" + kOther + "\r\n"},
        {"no line end", hash},
        {"inside other text", "x" + hash + "y\n"},
        {"lower case", "44d88612fea8a8f36de82e1278abb02f\n"},
        {"split by a piece end", std::string(495, 'x') + hash + "\n"},
        {"whole in the second piece", std::string(511, 'x') + hash + "\n"},
        {"after a zero byte", std::string("ab\0", 3) + hash + "\n"},
        {"zero byte on the line before", std::string("ab\0\n", 4) + hash + "\n"},
        {"in a longer run", "00" + hash + "11\n"},
        {"split by a line end", hash.substr(0, 10) + "\n" + hash.substr(10) + "\n"},
    };
    for (const Case& c : cases) {
        names::HashIndex index;
        index.build(ovsvc::piecesForIndex(c.text));
        EXPECT_EQ(index.contains(hash), pieceSearch(c.text, hash)) << c.name;
        ovsvc::HashList list;
        list.open(c.text, platform::File());
        EXPECT_EQ(list.contains(hash), pieceSearch(c.text, hash)) << c.name;
    }
}

}  // namespace
}  // namespace svctest
