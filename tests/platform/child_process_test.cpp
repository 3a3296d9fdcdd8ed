#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::ChildProcess;
using platform::SpawnOptions;

namespace {

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ov_child_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    static std::string readText(const std::string& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // True while a process with this id exists and is not a zombie.
    static bool processAlive(int pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        if (!stat) return false;
        std::string line;
        std::getline(stat, line);
        auto close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
    }

    fs::path m_dir;
};

TEST_F(ChildProcessTest, ExitCodesAndMissingProgram) {
    struct Case {
        std::vector<std::string> argv;
        uint32_t spawnResult;
        uint32_t exitCode;
    } cases[] = {
        {{"/bin/true"}, 0, 0},
        {{"false"}, 0, 1},  // looked up in PATH
        {{"/bin/sh", "-c", "exit 3"}, 0, 3},
        {{"/bin/sh", "-c", "kill -TERM $$"}, 0, 128 + SIGTERM},
        {{"/no/such/program"}, 2, 259},
        {{"no-such-program-in-path-ov"}, 2, 259},
        {{}, 87, 259},
    };
    for (const auto& c : cases) {
        ChildProcess child;
        ASSERT_EQ(ChildProcess::spawn(c.argv, SpawnOptions{}, child), c.spawnResult)
            << (c.argv.empty() ? "" : c.argv[0]);
        if (c.spawnResult == 0) {
            EXPECT_EQ(child.wait(10s), 0u);
            EXPECT_FALSE(child.isRunning());
        }
        EXPECT_EQ(child.exitCode(), c.exitCode) << (c.argv.empty() ? "" : c.argv.back());
    }
}

TEST_F(ChildProcessTest, ArgumentsReachTheProgramUnchangedWithoutAShell) {
    // Blanks, quotes and shell syntax stay inside their one argument.
    const std::string odd = path("a b; touch $HOME 'q\"");
    ChildProcess child;
    ASSERT_EQ(ChildProcess::spawn({"/usr/bin/touch", odd}, SpawnOptions{}, child), 0u);
    ASSERT_EQ(child.wait(10s), 0u);
    EXPECT_EQ(child.exitCode(), 0u);
    EXPECT_TRUE(fs::exists(odd));
    EXPECT_FALSE(fs::exists(path("a")));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(ChildProcessTest, WorkingDirectoryAndEmptyStandardInput) {
    SpawnOptions options;
    options.workingDirectory = m_dir.string();
    ChildProcess child;
    // A program that waits for an answer reads end of file at once.
    ASSERT_EQ(ChildProcess::spawn({"/bin/sh", "-c", "read answer; echo $? > asked; pwd > where"},
                                  options, child),
              0u);
    ASSERT_EQ(child.wait(10s), 0u);
    EXPECT_EQ(readText(path("asked")), "1\n");
    EXPECT_EQ(fs::canonical(readText(path("where")).substr(0, readText(path("where")).size() - 1)),
              fs::canonical(m_dir));

    options.workingDirectory = path("missing");
    EXPECT_EQ(ChildProcess::spawn({"/bin/true"}, options, child), 2u);
}

TEST_F(ChildProcessTest, FileSizeLimitFailsTheWriteWithoutKillingTheChild) {
    SpawnOptions options;
    options.workingDirectory = m_dir.string();
    options.maxFileSizeBytes = 100000;
    ChildProcess child;
    ASSERT_EQ(ChildProcess::spawn({"/bin/sh", "-c",
                                   "head -c 300000 /dev/zero > big; echo $? > rc; echo ok > after"},
                                  options, child),
              0u);
    ASSERT_EQ(child.wait(10s), 0u);
    EXPECT_EQ(child.exitCode(), 0u);
    EXPECT_EQ(fs::file_size(path("big")), 100000u);
    EXPECT_NE(readText(path("rc")), "0\n");
    EXPECT_EQ(readText(path("after")), "ok\n");
}

TEST_F(ChildProcessTest, TimeoutKillsTheWholeGroup) {
    const std::string pidFile = path("grandchild");
    ChildProcess child;
    ASSERT_EQ(ChildProcess::spawn({"/bin/sh", "-c", "sleep 30 & echo $! > \"$0\"; wait", pidFile},
                                  SpawnOptions{}, child),
              0u);
    const int pid = child.pid();
    auto start = std::chrono::steady_clock::now();
    while (readText(pidFile).empty() && std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(5ms);
    }
    const int grandchild = std::atoi(readText(pidFile).c_str());
    ASSERT_GT(grandchild, 0);

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(child.wait(100ms), 258u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(child.exitCode(), 128u + SIGKILL);
    EXPECT_FALSE(child.isRunning());
    EXPECT_FALSE(processAlive(pid));
    start = std::chrono::steady_clock::now();
    while (processAlive(grandchild) && std::chrono::steady_clock::now() - start < 3s) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_FALSE(processAlive(grandchild));
}

TEST_F(ChildProcessTest, StopPredicateEndsTheWaitPromptly) {
    ChildProcess child;
    ASSERT_EQ(ChildProcess::spawn({"/bin/sleep", "30"}, SpawnOptions{}, child), 0u);
    const auto start = std::chrono::steady_clock::now();
    int polls = 0;
    uint32_t result = child.wait(30s, [&] {
        ++polls;
        return std::chrono::steady_clock::now() - start > 50ms;
    });
    EXPECT_EQ(result, 1223u);
    EXPECT_GT(polls, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(child.isRunning());
}

TEST_F(ChildProcessTest, DestructionAndMoveKillTheChild) {
    int first = 0;
    int second = 0;
    {
        ChildProcess a;
        ASSERT_EQ(ChildProcess::spawn({"/bin/sleep", "30"}, SpawnOptions{}, a), 0u);
        first = a.pid();
        ChildProcess b;
        ASSERT_EQ(ChildProcess::spawn({"/bin/sleep", "30"}, SpawnOptions{}, b), 0u);
        second = b.pid();
        ChildProcess moved(std::move(a));
        EXPECT_EQ(moved.pid(), first);
        EXPECT_EQ(a.pid(), -1);
        moved = std::move(b);  // the first child is killed here
        EXPECT_FALSE(processAlive(first));
        EXPECT_TRUE(processAlive(second));
    }
    EXPECT_FALSE(processAlive(second));
}

TEST_F(ChildProcessTest, OnlyTheStandardStreamsAreInherited) {
    int fd = ::open(path("held").c_str(), O_CREAT | O_WRONLY, 0600);  // no close-on-exec
    ASSERT_GE(fd, 3);
    SpawnOptions options;
    options.workingDirectory = m_dir.string();
    ChildProcess child;
    ASSERT_EQ(ChildProcess::spawn({"/bin/sh", "-c",
                                   "if [ -e /proc/$$/fd/" + std::to_string(fd) +
                                       " ]; then echo open > seen; else echo closed > seen; fi"},
                                  options, child),
              0u);
    ASSERT_EQ(child.wait(10s), 0u);
    ::close(fd);
    EXPECT_EQ(readText(path("seen")), "closed\n");
}

}  // namespace

TEST_F(ChildProcessTest, EnvironmentEntriesGoOverTheCallersOnlyForTheChild) {
    ::setenv("OV_CHILD_KEPT", "kept", 1);
    ::setenv("OV_CHILD_REPLACED", "old", 1);
    SpawnOptions options;
    options.environment = {"OV_CHILD_REPLACED=new", "OV_CHILD_ADDED=added"};
    ChildProcess child;
    ASSERT_EQ(
        ChildProcess::spawn({"/bin/sh", "-c", "env | grep '^OV_CHILD_' | sort > " + path("env")},
                            options, child),
        0u);
    ASSERT_EQ(child.wait(10s), 0u);
    EXPECT_EQ(readText(path("env")),
              "OV_CHILD_ADDED=added\nOV_CHILD_KEPT=kept\nOV_CHILD_REPLACED=new\n");
    // The caller's own environment is left as it was.
    EXPECT_STREQ(std::getenv("OV_CHILD_REPLACED"), "old");
    EXPECT_EQ(std::getenv("OV_CHILD_ADDED"), nullptr);
    ::unsetenv("OV_CHILD_KEPT");
    ::unsetenv("OV_CHILD_REPLACED");
}

TEST_F(ChildProcessTest, StartTimeNamesALiveProcessOnly) {
    const uint64_t own = platform::processStartTime(platform::currentProcessId());
    EXPECT_NE(own, 0u);
    EXPECT_EQ(platform::processStartTime(platform::currentProcessId()), own);
    EXPECT_EQ(platform::processStartTime(0), 0u);

    ChildProcess child;
    ASSERT_EQ(ChildProcess::spawn({"/bin/sleep", "600"}, SpawnOptions{}, child), 0u);
    const auto pid = static_cast<uint32_t>(child.pid());
    const uint64_t started = platform::processStartTime(pid);
    EXPECT_GE(started, own);  // started after this process
    child.kill();
    // Killed and collected: the identifier names nothing any more.
    EXPECT_EQ(platform::processStartTime(pid), 0u);
}
