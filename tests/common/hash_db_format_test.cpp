#include <gtest/gtest.h>

#include "common/hash_db_format.h"

TEST(HashDatabaseFormat, KeyByteIsDerivedFromTheKeyString) {
    EXPECT_EQ(names::databaseKeyByte(), 0xD0);
}

TEST(HashDatabaseFormat, ScrambleRoundTripsAndAZeroEndsTheText) {
    std::string stored;
    ASSERT_TRUE(names::scrambleDatabaseText("44D88612FEA8A8F36DE82E1278ABB02F\r\n", stored, nullptr));
    EXPECT_EQ(stored.find('\0'), std::string::npos);
    EXPECT_EQ(names::unscrambleDatabaseText(stored), "44D88612FEA8A8F36DE82E1278ABB02F\r\n");

    std::string cut = stored;
    cut.insert(10, 1, '\0');
    EXPECT_EQ(names::unscrambleDatabaseText(cut), "44D88612FE");
}

TEST(HashDatabaseFormat, RefusesTextThatWouldStoreAZeroByte) {
    std::string stored, error;
    EXPECT_FALSE(names::scrambleDatabaseText(std::string("AB\xD0", 3), stored, &error));
    EXPECT_NE(error.find("key byte"), std::string::npos);
    EXPECT_FALSE(names::scrambleDatabaseText(std::string("AB\0C", 4), stored, &error));
}
