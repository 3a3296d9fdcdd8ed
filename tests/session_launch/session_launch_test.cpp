#include "service/session_launch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "launch_probe/fake_session_source.h"
#include "launch_probe/launch_record.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace {

using platform::SessionProcess;
using platform::UserSession;

constexpr char16_t kStart[] = u"[INFO] LaunchAppIntoDifferentSession=> Start \n";

// The lines of one launch, without those about the debug privilege, which
// depend on the capabilities this test runs with.
struct CollectedLog {
    std::vector<std::u16string> lines;
    SessionLaunchLog sink() {
        return [this](std::u16string_view line) { lines.emplace_back(line); };
    }
    std::vector<std::u16string> withoutPrivilegeLines() const {
        std::vector<std::u16string> kept;
        for (const std::u16string& line : lines) {
            if (line.find(u"Privilege value Error") == std::u16string::npos &&
                line.find(u"Token does not have the provilege") == std::u16string::npos) {
                kept.push_back(line);
            }
        }
        return kept;
    }
};

std::u16string launchLine(const std::u16string& commandLine) {
    return u"[INFO] LaunchAppIntoDifferentSession=> CreateProcessAsUser  " + commandLine + u" \n";
}

std::u16string resultLine(int started, int code) {
    return platform::format16(
        u"[INFO] LaunchAppIntoDifferentSession=> CreateProcessAsUser result(t/f): %d, code: %d \n",
        started, code);
}

// A program folder with a blank in its name holding a stand-in alert
// program, and a registry of the test's own for the drive map.
class SessionLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::resetRegistryConnection();
        m_folder.makeFolder("bin dir");
        m_program = m_folder.host("bin dir") + "/ovfilemsg";
        ASSERT_TRUE(ovtest::installProbe(m_program));
    }
    void TearDown() override { platform::resetRegistryConnection(); }

    std::u16string programWindows() const { return platform::toWindowsPath(m_program.string()); }

    ovtest::TempFolder m_folder;
    ovtest::ScopedEnv m_registry{"ORVANE_REGISTRY", m_folder.host("registry.db")};
    std::filesystem::path m_program;
};

struct LaunchCase {
    const char* name;
    uint32_t sessionResult;
    UserSession session;
    std::vector<SessionProcess> processes;
    std::map<uint32_t, std::vector<std::string>> environments;
    std::vector<std::string> expectedEnvironment;  // sorted
    std::u16string tokenLine;                      // empty when the leader could be read
};

const std::vector<std::string> kCaller = {"PATH=/caller/bin", "ORVANE_REGISTRY=/tmp/t/registry.db",
                                          "LD_PRELOAD=/caller/lib.so"};

const LaunchCase kLaunchCases[] = {
    {"X11",
     0,
     {"2", 1000, 500, "x11", ":0"},
     {{1, 0, ""}, {500, 0, "2"}, {900, 1000, "2"}},
     {{500, {"LANG=en_GB.UTF-8"}},
      {900,
       {"DISPLAY=:0", "XAUTHORITY=/run/user/1000/gdm/Xauthority", "XDG_RUNTIME_DIR=/run/user/1000",
        "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus", "LD_PRELOAD=/home/u/evil.so"}}},
     {"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus", "DISPLAY=:0", "HOME=/root",
      "LANG=en_GB.UTF-8", "LOGNAME=root", "ORVANE_REGISTRY=/tmp/t/registry.db",
      "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "USER=root",
      "XAUTHORITY=/run/user/1000/gdm/Xauthority", "XDG_RUNTIME_DIR=/run/user/1000",
      "XDG_SESSION_TYPE=x11"},
     u""},
    // The leader is gone: its environment cannot be read, the user's
    // processes still give the session's variables.
    {"Wayland",
     0,
     {"3", 1000, 600, "wayland", ""},
     {{1, 0, ""}, {600, 1000, "3"}, {700, 1000, "3"}},
     {{700,
       {"WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=/run/user/1000",
        "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus"}}},
     {"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus", "HOME=/root", "LOGNAME=root",
      "ORVANE_REGISTRY=/tmp/t/registry.db",
      "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "USER=root",
      "WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=/run/user/1000", "XDG_SESSION_TYPE=wayland"},
     u"[INFO] LaunchAppIntoDifferentSession=> Process token open Error: 2\n"},
    {"NoLogind",
     platform::kErrorNoLogind,
     {},
     {{1, 0, ""}, {900, 1000, ""}},
     {{900, {"DISPLAY=:0"}}},
     {"LD_PRELOAD=/caller/lib.so", "ORVANE_REGISTRY=/tmp/t/registry.db", "PATH=/caller/bin"},
     u"[INFO] LaunchAppIntoDifferentSession=> Process token open Error: 87\n"},
    {"NoActiveSession",
     platform::kErrorNoActiveSession,
     {},
     {{1, 0, ""}},
     {},
     {"LD_PRELOAD=/caller/lib.so", "ORVANE_REGISTRY=/tmp/t/registry.db", "PATH=/caller/bin"},
     u"[INFO] LaunchAppIntoDifferentSession=> Process token open Error: 87\n"},
    // A text console has no screen for a window: the caller's environment.
    {"TextConsole",
     0,
     {"5", 1000, 800, "tty", ""},
     {{1, 0, ""}, {800, 1000, "5"}},
     {{800, {"DISPLAY=:3"}}},
     {"LD_PRELOAD=/caller/lib.so", "ORVANE_REGISTRY=/tmp/t/registry.db", "PATH=/caller/bin"},
     u""},
};

void PrintTo(const LaunchCase& c, std::ostream* out) { *out << c.name; }

class SessionLaunchTable : public SessionLaunchTest,
                           public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(SessionLaunchTable, ChildGetsTheSessionsEnvironmentAndItsArgumentsWhole) {
    const LaunchCase& c = GetParam();
    ovtest::FakeSessionSource source;
    source.sessionResult = c.sessionResult;
    source.session = c.session;
    source.processList = c.processes;
    source.environments = c.environments;
    source.caller = kCaller;

    const std::u16string infected = u"C:\\home\\alex\\my files\\-rf\nnext.exe";
    const std::vector<std::u16string> commandLine = {programWindows(), infected};
    CollectedLog log;
    EXPECT_EQ(LaunchAppIntoDifferentSession(commandLine, log.sink()), 0u);

    std::vector<std::u16string> expectedLog = {kStart};
    if (!c.tokenLine.empty()) expectedLog.push_back(c.tokenLine);
    expectedLog.push_back(launchLine(programWindows() + u" " + infected));
    expectedLog.push_back(resultLine(1, 0));
    EXPECT_EQ(log.withoutPrivilegeLines(), expectedLog);

    ovtest::LaunchRecord record;
    ASSERT_TRUE(ovtest::waitForRecord(m_program, record));
    EXPECT_EQ(record.arguments,
              (std::vector<std::string>{m_program.string(), platform::toUtf8(infected)}));
    std::vector<std::string> environment = record.environment;
    std::sort(environment.begin(), environment.end());
    EXPECT_EQ(environment, c.expectedEnvironment);
    EXPECT_EQ(record.workingFolder, m_folder.host("bin dir"));
}

INSTANTIATE_TEST_SUITE_P(Sessions, SessionLaunchTable, ::testing::ValuesIn(kLaunchCases),
                         [](const ::testing::TestParamInfo<LaunchCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(SessionLaunchTest, AnUnreadableOrEmptyProcessListEndsTheAttemptWithOne) {
    ovtest::FakeSessionSource source;
    source.processListResult = 5;
    CollectedLog failed;
    EXPECT_EQ(LaunchAppIntoDifferentSession({programWindows()}, failed.sink()), 1u);
    EXPECT_EQ(
        failed.lines,
        (std::vector<std::u16string>{
            kStart, u"[INFO] LaunchAppIntoDifferentSession=> CreateToolhelp32Snapshot failed \n"}));

    source.processListResult = 0;
    CollectedLog empty;
    EXPECT_EQ(LaunchAppIntoDifferentSession({programWindows()}, empty.sink()), 1u);
    EXPECT_EQ(empty.lines,
              (std::vector<std::u16string>{
                  kStart, u"[INFO] LaunchAppIntoDifferentSession=> Process32First failed \n"}));
    EXPECT_FALSE(std::filesystem::exists(m_program.string() + ".ran"));
}

TEST_F(SessionLaunchTest, AProgramThatCannotStartIsOnlyLogged) {
    ovtest::FakeSessionSource source;
    source.processList = {{1, 0, ""}};
    const std::u16string missing = platform::toWindowsPath(m_folder.host("bin dir") + "/Orvane");
    CollectedLog log;
    EXPECT_EQ(LaunchAppIntoDifferentSession({missing, u"ovjob0.ovj"}, log.sink()), 0u);
    ASSERT_GE(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[log.lines.size() - 2], launchLine(missing + u" ovjob0.ovj"));
    EXPECT_EQ(log.lines.back(), resultLine(0, 2));
}

// This machine's own logind (or its absence) and processes.
TEST_F(SessionLaunchTest, TheRealLaunchOfAChildReportsItsCommandLine) {
    ovtest::ScopedEnv marker("OV_SESSION_LAUNCH_MARKER", "1");
    const std::u16string infected = u"C:\\tmp\\two words.exe";
    CollectedLog log;
    EXPECT_EQ(LaunchAppIntoDifferentSession({programWindows(), infected}, log.sink()), 0u);
    ASSERT_GE(log.lines.size(), 3u);
    EXPECT_EQ(log.lines.front(), kStart);
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                        launchLine(programWindows() + u" " + infected)),
              log.lines.end());
    EXPECT_EQ(log.lines.back(), resultLine(1, 0));

    ovtest::LaunchRecord record;
    ASSERT_TRUE(ovtest::waitForRecord(m_program, record));
    EXPECT_EQ(record.arguments,
              (std::vector<std::string>{m_program.string(), "C:\\tmp\\two words.exe"}));
    EXPECT_EQ(record.workingFolder, m_folder.host("bin dir"));
    if (std::filesystem::exists("/run/systemd/system")) return;  // the session's environment
    // Without logind the child has the caller's own environment.
    EXPECT_NE(std::find(record.environment.begin(), record.environment.end(),
                        "OV_SESSION_LAUNCH_MARKER=1"),
              record.environment.end());
}

}  // namespace
