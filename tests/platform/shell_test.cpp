#include "platform/shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/temp_folder.h"

using namespace platform;

namespace {

std::string waitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(path, std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!text.empty() && text.back() == '\n') return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

TEST(Shell, DetachedProgramGetsEachArgumentWhole) {
    ovtest::TempFolder tmp;
    std::string out = tmp.host("args");
    // The program, not a shell of ours, sees the text: blanks, quotes and
    // semicolons arrive as they are.
    const std::string tricky = "a b; rm -rf \"$HOME\" `x`";
    ASSERT_EQ(startDetachedProgram({"/bin/sh", "-c", "printf '%s|%s\\n' \"$1\" \"$2\" > \"$0\"",
                                    out, tricky, "second"}),
              0u);
    EXPECT_EQ(waitForFile(out), tricky + "|second\n");
}

TEST(Shell, MissingProgramIsReportedAtOnce) {
    EXPECT_EQ(startDetachedProgram({"/nonexistent/viewer", "x"}), 2u);
    EXPECT_EQ(startDetachedProgram({"no-such-program-anywhere"}), 2u);
    EXPECT_EQ(startDetachedProgram({}), 87u);
}

}  // namespace
