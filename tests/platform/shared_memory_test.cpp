// Named shared memory over POSIX shared memory objects.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/error.h"
#include "platform/shm.h"
#include "platform/temp_folder.h"

namespace {

using platform::SharedMemory;

TEST(SharedMemory, CreateOpenAndTheCreatorRemovesTheName) {
    ovtest::TempFolder runtime;
    ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", runtime.host());
    SharedMemory created;
    ASSERT_EQ(SharedMemory::create(u"OVProMappingObject", 0x4010000, created), 0u);
    EXPECT_EQ(platform::lastError(), 0u);
    EXPECT_TRUE(created.createdHere());
    ASSERT_EQ(created.size(), 0x4010000u);
    const auto* bytes = static_cast<const unsigned char*>(created.view());
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[0x4010000 - 1], 0);
    std::memcpy(created.view(), "status", 6);

    SharedMemory reader;
    ASSERT_EQ(SharedMemory::open(u"OVProMappingObject", false, reader), 0u);
    EXPECT_EQ(std::memcmp(reader.view(), "status", 6), 0);
    EXPECT_EQ(reader.size(), 0x4010000u);

    // A second create opens the same object, as CreateFileMapping does.
    SharedMemory again;
    ASSERT_EQ(SharedMemory::create(u"OVProMappingObject", 16, again), 0u);
    EXPECT_EQ(platform::lastError(), 183u);
    EXPECT_FALSE(again.createdHere());
    again.close();
    SharedMemory stillThere;
    EXPECT_EQ(SharedMemory::open(u"OVProMappingObject", false, stillThere), 0u);

    created.close();
    SharedMemory gone;
    EXPECT_EQ(SharedMemory::open(u"OVProMappingObject", false, gone), 2u);
}

TEST(SharedMemory, RuntimeFoldersKeepTheirObjectsApart) {
    ovtest::TempFolder first, second;
    std::string a, b;
    {
        ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", first.host());
        a = SharedMemory::objectName(u"OVProMappingObject");
    }
    {
        ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", second.host());
        b = SharedMemory::objectName(u"OVProMappingObject");
    }
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find('/', 1), std::string::npos);
    EXPECT_EQ(SharedMemory::objectName(u"a/b").find('/', 1), std::string::npos);
}

TEST(SharedMemory, BadArguments) {
    SharedMemory out;
    EXPECT_EQ(SharedMemory::create(u"", 16, out), 87u);
    EXPECT_EQ(SharedMemory::create(u"x", 0, out), 87u);
}

}  // namespace
