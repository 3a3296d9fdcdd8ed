#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hash_db_format.h"
#include "common/scan_codes.h"
#include "engine/engine_test_support.h"
#include "platform/error.h"
#include "platform/fs.h"

using enginetest::Install;
using enginetest::Recorder;
using enginetest::RequestScope;

namespace {
constexpr char kEicar[] = "44D88612FEA8A8F36DE82E1278ABB02F";
constexpr char kEmpty[] = "D41D8CD98F00B204E9800998ECF8427E";
}  // namespace

TEST(HashDatabase, KeyByte) { EXPECT_EQ(DatabaseKeyByte(), 0xD0); }

TEST(HashDatabase, LoadsUnscramblesAndFindsEntries) {
    Install install;
    install.writeDatabase(std::string(kEicar) + "\r\n" + kEmpty + "\r\n");
    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_EQ(LoadDbFileData(), 1);
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData Open File OK"));
    EXPECT_TRUE(
        recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData: Allocation Memory Ok (size: 68)"));
    EXPECT_TRUE(
        recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData DEF DB File: ..\\data\\hashdb.dbf"));
    EXPECT_FALSE(DatabaseContains(kEicar));  // still scrambled
    EXPECT_EQ(UnscrambleDbText(), 1);
    EXPECT_TRUE(DatabaseContains(kEicar));
    EXPECT_TRUE(DatabaseContains(kEmpty));
    EXPECT_FALSE(DatabaseContains("00000000000000000000000000000000"));
    // The meaning is a substring search: part of an entry is found too.
    EXPECT_TRUE(DatabaseContains("F36DE82E"));
    UnloadOVData();
    EXPECT_FALSE(DatabaseContains(kEicar));
}

TEST(HashDatabase, LowerCaseEntriesNeverMatch) {
    Install install;
    install.writeDatabase("44d88612fea8a8f36de82e1278abb02f\r\n");
    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_EQ(LoadDbFileData(), 1);
    UnscrambleDbText();
    EXPECT_FALSE(DatabaseContains(kEicar));
}

TEST(HashDatabase, AZeroByteInTheStoredFileEndsTheText) {
    Install install;
    std::string first, second;
    ASSERT_TRUE(names::scrambleDatabaseText(std::string(kEicar) + "\r\n", first, nullptr));
    ASSERT_TRUE(names::scrambleDatabaseText(std::string(kEmpty) + "\r\n", second, nullptr));
    install.writeStoredDatabase(first + std::string(1, '\0') + second);
    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_EQ(LoadDbFileData(), 1);
    UnscrambleDbText();
    EXPECT_TRUE(DatabaseContains(kEicar));
    EXPECT_FALSE(DatabaseContains(kEmpty));
}

TEST(HashDatabase, AMissingFileFailsWithItsError) {
    Install install;
    Recorder recorder;
    RequestScope scope(recorder);
    EXPECT_EQ(LoadDbFileData(), 0);
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData:Open DB File Error 2"));
    EXPECT_FALSE(DatabaseContains(kEicar));
}

// A stored byte equal to the key unscrambles to a zero byte, which ends
// the text like a stored zero does.
TEST(HashDatabase, AStoredKeyByteEndsTheText) {
    Install install;
    std::string first, second;
    ASSERT_TRUE(names::scrambleDatabaseText(std::string(kEicar) + "\r\n", first, nullptr));
    ASSERT_TRUE(names::scrambleDatabaseText(std::string(kEmpty) + "\r\n", second, nullptr));
    install.writeStoredDatabase(first + std::string(1, static_cast<char>(DatabaseKeyByte())) +
                                second);
    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_EQ(LoadDbFileData(), 1);
    UnscrambleDbText();
    EXPECT_TRUE(DatabaseContains(kEicar));
    EXPECT_FALSE(DatabaseContains(kEmpty));
    EXPECT_FALSE(DatabaseContains("F8427E"));  // not by a substring search either
}

// An empty file loads as a database that lists nothing.
TEST(HashDatabase, AnEmptyFileListsNothing) {
    Install install;
    install.writeStoredDatabase("");
    Recorder recorder;
    RequestScope scope(recorder);
    ASSERT_EQ(LoadDbFileData(), 1);
    EXPECT_TRUE(
        recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData: Allocation Memory Ok (size: 0)"));
    EXPECT_EQ(UnscrambleDbText(), 1);
    EXPECT_FALSE(DatabaseContains(kEicar));
    EXPECT_FALSE(DatabaseContains("0"));
}

// A large database is read in pieces, two halves at once, and not kept in
// memory: an entry anywhere is found, so is a text across two pieces (a
// search of the file, for a lookup that is not a hash text), and a read
// that fails in either half fails the load with its error.
TEST(HashDatabase, ALargeDatabaseIsReadInPiecesAndAnyFailingReadFailsIt) {
    Install install;
    std::string text;
    std::vector<std::string> entries;
    for (int i = 0; text.size() < (3u << 20); ++i) {
        entries.push_back(enginetest::Md5Upper("entry " + std::to_string(i)));
        text += entries.back() + "\r\n";
    }
    install.writeDatabase(text);
    {
        Recorder recorder;
        RequestScope scope(recorder);
        ASSERT_EQ(LoadDbFileData(), 1);
        EXPECT_FALSE(DatabaseContains(entries.front().c_str()));  // still scrambled
        UnloadOVData();
    }
    {
        Recorder recorder;
        RequestScope scope(recorder);
        ASSERT_EQ(LoadDbFileData(), 1);
        UnscrambleDbText();
        for (size_t i = 0; i < entries.size(); i += 1013)
            EXPECT_TRUE(DatabaseContains(entries[i].c_str()));
        EXPECT_TRUE(DatabaseContains(entries.back().c_str()));
        const size_t across = (256u << 10) - 10;  // the end of the first piece
        EXPECT_TRUE(DatabaseContains(text.substr(across, 40).c_str()));
        EXPECT_FALSE(DatabaseContains((text.substr(across, 40) + "X").c_str()));
        UnloadOVData();
    }
    for (uint64_t failAt : {uint64_t{1000}, uint64_t{text.size() * 3 / 4}}) {
        SetDatabaseReader([failAt](const platform::File& db, uint64_t offset, void* buffer,
                                   uint32_t size, uint32_t& got) {
            if (offset + size > failAt) return platform::kErrorInvalidFunction;
            return db.readAt(offset, buffer, size, got);
        });
        Recorder recorder;
        RequestScope scope(recorder);
        EXPECT_EQ(LoadDbFileData(), 0);
        ResetDatabaseReader();
        EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData: Read File Error 1"));
        EXPECT_FALSE(recorder.contains(SCANMSG_DEBUG, u" LoadDbFileData: Load File Ok"));
        EXPECT_FALSE(DatabaseContains(entries.front().c_str()));
    }
}
