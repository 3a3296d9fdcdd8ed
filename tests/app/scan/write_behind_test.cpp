#include "app/scan/write_behind.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/text.h"

namespace {

class WriteBehindTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = std::filesystem::temp_directory_path() /
                 ("write-behind-" + std::to_string(getpid()) + ".txt");
        ASSERT_EQ(
            platform::File::open(platform::toUtf16(m_path.string()), platform::kGenericWrite,
                                 platform::kShareRead, platform::Disposition::CreateAlways, m_file),
            0u);
    }
    void TearDown() override {
        m_file.close();
        std::filesystem::remove(m_path);
    }
    std::string contents() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path m_path;
    platform::File m_file;
};

}  // namespace

// Many more blocks than may be queued: all reach the file, in order, by the
// time drain returns; and what is queued when it goes away is written too.
TEST_F(WriteBehindTest, EveryBlockInOrder) {
    std::string expected;
    {
        WriteBehind behind(m_file);
        for (int i = 0; i < 200; ++i) {
            std::string block = "block " + std::to_string(i) + std::string(1000 + i, 'x') + "\n";
            expected += block;
            behind.write(std::move(block));
        }
        behind.drain();
        EXPECT_EQ(contents(), expected);
        behind.write("");  // nothing
        for (int i = 0; i < 20; ++i) {
            const std::string block = "after " + std::to_string(i) + "\n";
            expected += block;
            behind.write(block);
        }
    }
    EXPECT_EQ(contents(), expected);
}
