// The real program, run as child processes on a private installation: a
// second copy ends at once without a log of its own; the updater is started
// from the program folder.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/shell/main_dialog.h"
#include "app/shell/shell_frame.h"
#include "app/shell/shell_state.h"
#include "app/shell/shell_test_support.h"
#include "app/shell/startup.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char16_t kProduct[] = u"SOFTWARE\\Orvane\\Wardline";

// A private installation: bin/ with a copy of the program, logs/, the
// registry file and the runtime folder for named objects.
class Installation {
public:
    Installation() {
        fs::create_directories(bin());
        fs::create_directories(logs());
        fs::create_directories(root.path() / "run");
        setenv("ORVANE_REGISTRY", (root.path() / "registry.db").c_str(), 1);
        setenv("ORVANE_RUNTIME_DIR", (root.path() / "run").c_str(), 1);
        platform::resetRegistryConnection();
    }
    ~Installation() {
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
        unsetenv("ORVANE_RUNTIME_DIR");
    }
    fs::path bin() const { return root.path() / "bin"; }
    fs::path logs() const { return root.path() / "logs"; }
    std::vector<fs::path> logFiles(const std::string& prefix) const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(logs())) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0)
                found.push_back(entry.path());
        }
        return found;
    }

    TempFolder root;
};

// The real-time service "Orvane Service" as a stand-in that runs until it is
// stopped, so that the start-up's service check finds it running and asks
// nothing (a question would wait for an answer no one gives here).
class RunningService {
public:
    RunningService() {
#ifdef OV_STATE_SERVICE
        platform::ServiceManager manager;
        if (platform::ServiceManager::open(platform::kScManagerAllAccess, manager) != 0) return;
        platform::ServiceDescription description;
        description.name = u"Orvane Service";
        description.binaryPath = platform::toWindowsPath(OV_STATE_SERVICE);
        platform::Service service;
        if (manager.createService(description, platform::kServiceAllAccess, service) != 0) return;
        m_started = service.start({}) == 0;
#endif
    }
    ~RunningService() {
        if (!m_started) return;
        platform::ServiceManager manager;
        platform::Service service;
        platform::ServiceStatusProcess status;
        if (platform::ServiceManager::open(platform::kScManagerAllAccess, manager) == 0 &&
            platform::Service::open(manager, u"Orvane Service", platform::kServiceAllAccess,
                                    service) == 0) {
            (void)service.control(platform::kServiceControlStop, status);
        }
    }
    bool started() const { return m_started; }

private:
    bool m_started = false;
};

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

TEST(Instance, SecondCopyEndsAtOnceWithoutItsOwnLog) {
    const fs::path program = fs::path(OV_BIN_DIR) / "Orvane";
    if (!fs::exists(program)) GTEST_SKIP() << "Orvane is not built";
    Installation install;
    fs::copy_file(program, install.bin() / "Orvane");
    for (const auto& entry : fs::directory_iterator(OV_BIN_DIR)) {
        if (entry.path().extension() == ".so")
            fs::copy_file(entry.path(), install.bin() / entry.path().filename());
    }
    {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, kProduct, key), 0u);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const bool elevated = EnableStartupPrivileges();
    RunningService service;
    if (elevated && !service.started()) GTEST_SKIP() << "the stand-in service cannot be started";

    platform::ChildProcess first;
    ASSERT_EQ(platform::ChildProcess::spawn({(install.bin() / "Orvane").string()}, {}, first), 0u);
    ASSERT_TRUE(waitFor([&] { return !install.logFiles("OrvaneApp_").empty(); }, 60s))
        << "the first copy wrote no log";
    if (elevated) {
        // Start-up went through the registry: Path is the program folder.
        ASSERT_TRUE(waitFor([&] { return !install.logFiles("OrvaneInit").empty(); }, 60s));
        ASSERT_TRUE(waitFor(
            [&] {
                std::u16string version;
                return platform::readString(platform::RegRoot::LocalMachine, kProduct, u"Version",
                                            version) == 0 &&
                       version == u"1.0.1.310";
            },
            30s));
        std::u16string path;
        EXPECT_EQ(platform::readString(platform::RegRoot::LocalMachine, kProduct, u"Path", path),
                  0u);
        EXPECT_EQ(path, platform::toWindowsPath(fs::canonical(install.bin()).string()));
    }
    // The main dialog came up: its initialisation writes its entry line.
    const fs::path appLog = install.logFiles("OrvaneApp_").front();
    if (elevated) {
        EXPECT_TRUE(waitFor(
            [&] {
                return readBytes(appLog).find(utf16le(u"[INFO] In InitProcessScanner\n")) !=
                       std::string::npos;
            },
            60s));
    }
    EXPECT_EQ(readBytes(appLog).substr(0, 12), utf16le(u"   ###"));  // banner, no byte-order mark
    EXPECT_TRUE(first.isRunning());

    // Log names carry the second: wait so that a second log could not share it.
    std::this_thread::sleep_for(1100ms);
    platform::ChildProcess second;
    ASSERT_EQ(platform::ChildProcess::spawn({(install.bin() / "Orvane").string()}, {}, second), 0u);
    ASSERT_EQ(second.wait(60s), 0u) << "the second copy did not end";
    EXPECT_EQ(second.exitCode(), 0u);
    EXPECT_EQ(install.logFiles("OrvaneApp_").size(), 1u);
    EXPECT_TRUE(first.isRunning());
    first.kill();
    if (!elevated) {
        GTEST_SKIP() << "the start-up privileges could not be had here: the start-up through the "
                        "registry and the main dialog's entry line were not checked";
    }
}

TEST(Updater, StartsOvUpdateFromThePathFolderAndEnds) {
    Installation install;
    {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, kProduct, key), 0u);
    }
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, kProduct, u"Path",
                                    install.root.windows("bin"), platform::kRegExpandSz),
              0u);
    const fs::path marker = install.root.path() / "updater-ran";
    {
        std::ofstream script(install.bin() / "ovUpdate");
        script << "#!/bin/sh\necho \"$#\" \"$ORVANE_UPDATE_CALLER\" > '" << marker.string()
               << "'\n";
    }
    fs::permissions(install.bin() / "ovUpdate", fs::perms::owner_all);

    ASSERT_EQ(AcquireSingleInstance(), 0u);
    gShellState.Reset();
    MainDialog dialog;
    const auto previous = fs::current_path();
    int exitCode = -1;
    gShellProcess.exitProcess = [&](int code) { exitCode = code; };
    EXPECT_EQ(dialog.onCommand(1069, 0), 1);
    fs::current_path(previous);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(dialog.controlText(1000), "Update Progress Done!");
    // The mutex was let go so that the updater can start a new copy.
    EXPECT_FALSE(gShellProcess.singleInstance.isHeld());
    ASSERT_EQ(gShellProcess.updater.wait(30s), 0u);
    // No arguments; the environment names this process, by its id and its
    // start time, as the one that started the updater.
    const uint32_t self = platform::currentProcessId();
    EXPECT_EQ(readBytes(marker), "0 " + std::to_string(self) + ":" +
                                     std::to_string(platform::processStartTime(self)) + "\n");
    // The entry was the updater's alone.
    EXPECT_EQ(std::getenv("ORVANE_UPDATE_CALLER"), nullptr);
    gShellProcess.Reset();
}

}  // namespace
