// The process list, modules and the open-by-identifier probe against real
// processes and threads of this machine.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A child that sleeps until it is killed; killed and reaped at the end.
class SleepingChild {
public:
    explicit SleepingChild(const std::string& program = "/bin/sleep") {
        const char* argv[] = {program.c_str(), "60", nullptr};
        if (::posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, const_cast<char* const*>(argv),
                          environ) != 0) {
            m_pid = -1;
        }
    }
    ~SleepingChild() { stop(); }
    pid_t pid() const { return m_pid; }
    // Kills and reaps; the status of the end.
    int stop() {
        int status = 0;
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
        return status;
    }
    int reap() {
        int status = 0;
        if (m_pid > 0) ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
};

// Waits until the child has replaced its image (its exe link names the
// program), so that its modules are those of the program.
bool waitForImage(pid_t pid, const std::string& program) {
    for (int i = 0; i < 500; ++i) {
        std::error_code ec;
        fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
        if (!ec && exe.string().rfind(program, 0) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

class ProcessListTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("ov-proclist-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        // The drive map reads the registry; never the machine's own.
        ::setenv("ORVANE_REGISTRY", (m_dir / "registry.db").c_str(), 1);
        platform::resetRegistryConnection();
    }
    void TearDown() override {
        platform::resetRegistryConnection();
        ::unsetenv("ORVANE_REGISTRY");
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path m_dir;
};

const platform::ProcessEntry* findPid(const std::vector<platform::ProcessEntry>& list,
                                      uint32_t pid) {
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const platform::ProcessEntry& e) { return e.pid == pid; });
    return it == list.end() ? nullptr : &*it;
}

TEST_F(ProcessListTest, ListsThisProcessAndAChildWithWindowsPaths) {
    SleepingChild child;
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(waitForImage(child.pid(), "/"));
    std::vector<platform::ProcessEntry> list = platform::listProcesses();

    const platform::ProcessEntry* self = findPid(list, platform::currentProcessId());
    ASSERT_NE(self, nullptr);
    std::string selfExe = fs::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(self->imagePath, platform::toWindowsPath(selfExe));
    EXPECT_EQ(self->exeName, platform::toUtf16(fs::path(selfExe).filename().string()));
    EXPECT_EQ(self->parentPid, static_cast<uint32_t>(::getppid()));

    const platform::ProcessEntry* sleeper = findPid(list, static_cast<uint32_t>(child.pid()));
    ASSERT_NE(sleeper, nullptr);
    EXPECT_EQ(sleeper->parentPid, platform::currentProcessId());
    EXPECT_EQ(sleeper->exeName, u"sleep");
    ASSERT_GE(sleeper->imagePath.size(), 3u);
    EXPECT_EQ(sleeper->imagePath[1], u':');
    EXPECT_EQ(platform::toHostPath(sleeper->imagePath),
              fs::read_symlink("/proc/" + std::to_string(child.pid()) + "/exe").string());
}

TEST_F(ProcessListTest, ThreadsAreNeitherListedNorProbedAsProcesses) {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::atomic<pid_t> tid{0};
    std::thread worker([&] {
        tid = static_cast<pid_t>(::syscall(SYS_gettid));
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return done; });
    });
    while (tid == 0) std::this_thread::yield();

    std::vector<platform::ProcessEntry> list = platform::listProcesses();
    EXPECT_EQ(findPid(list, static_cast<uint32_t>(tid.load())), nullptr);
    EXPECT_FALSE(platform::probeProcess(static_cast<uint32_t>(tid.load())));
    EXPECT_TRUE(platform::probeProcess(platform::currentProcessId()));
    EXPECT_EQ(platform::terminateProcess(static_cast<uint32_t>(tid.load()), 1), 87u);
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    cv.notify_all();
    worker.join();
}

TEST_F(ProcessListTest, ProbeFollowsAProcessLife) {
    SleepingChild child;
    ASSERT_GT(child.pid(), 0);
    EXPECT_TRUE(platform::probeProcess(static_cast<uint32_t>(child.pid())));
    pid_t pid = child.pid();
    child.stop();
    EXPECT_FALSE(platform::probeProcess(static_cast<uint32_t>(pid)));
    EXPECT_FALSE(platform::probeProcess(0));
    EXPECT_FALSE(platform::probeProcess(platform::maxProcessId() + 1));
}

TEST_F(ProcessListTest, MaxProcessIdIsOneBelowPidMax) {
    std::ifstream in("/proc/sys/kernel/pid_max");
    uint32_t pidMax = 0;
    ASSERT_TRUE(in >> pidMax);
    EXPECT_EQ(platform::maxProcessId(), pidMax - 1);
    EXPECT_GE(platform::maxProcessId(), platform::currentProcessId());
}

TEST_F(ProcessListTest, ModulesStartWithTheImageAndHoldEachFileOnce) {
    std::vector<std::u16string> modules = platform::listModules(platform::currentProcessId());
    ASSERT_FALSE(modules.empty());
    EXPECT_EQ(modules.front(), platform::processImagePath(platform::currentProcessId()));
    std::vector<std::u16string> sorted = modules;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    bool platformLibrary = false;
    for (const std::u16string& module : modules) {
        ASSERT_GE(module.size(), 3u);
        EXPECT_EQ(module.substr(1, 2), u":\\") << platform::toUtf8(module);
        EXPECT_EQ(module.find(u'['), std::u16string::npos);
        if (module.find(u"libovplatform.so") != std::u16string::npos) platformLibrary = true;
    }
    EXPECT_TRUE(platformLibrary);

    // A child's modules are those of its program.
    SleepingChild child;
    ASSERT_TRUE(waitForImage(child.pid(), "/"));
    std::vector<std::u16string> childModules =
        platform::listModules(static_cast<uint32_t>(child.pid()));
    ASSERT_FALSE(childModules.empty());
    EXPECT_EQ(platform::baseName(childModules.front()), u"sleep");

    EXPECT_TRUE(platform::listModules(platform::maxProcessId() + 1).empty());
}

TEST_F(ProcessListTest, DeletedImageKeepsItsPathWithoutTheKernelMark) {
    fs::path copy = m_dir / "ov sleeper";
    fs::copy_file("/bin/sleep", copy);
    fs::permissions(copy, fs::perms::owner_all);
    SleepingChild child(copy.string());
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(waitForImage(child.pid(), copy.string()));
    fs::remove(copy);
    std::u16string image = platform::processImagePath(static_cast<uint32_t>(child.pid()));
    EXPECT_EQ(image, platform::toWindowsPath(copy.string()));
    std::vector<std::u16string> modules = platform::listModules(static_cast<uint32_t>(child.pid()));
    ASSERT_FALSE(modules.empty());
    EXPECT_EQ(modules.front(), image);
}

TEST_F(ProcessListTest, TerminateKillsAProcess) {
    SleepingChild child;
    ASSERT_GT(child.pid(), 0);
    EXPECT_EQ(platform::terminateProcess(static_cast<uint32_t>(child.pid()), 3), 0u);
    int status = child.reap();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(platform::terminateProcess(0, 1), 87u);
}

}  // namespace
