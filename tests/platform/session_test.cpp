#include "platform/session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "launch_probe/fake_session_source.h"
#include "launch_probe/launch_record.h"
#include "platform/detached_process.h"
#include "temp_folder.h"

namespace {

using platform::SessionProcess;
using platform::UserSession;

const std::vector<std::string> kBase = {
    "HOME=/root",
    "LOGNAME=root",
    "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
    "USER=root",
};

std::vector<std::string> withBase(std::vector<std::string> entries) {
    entries.insert(entries.end(), kBase.begin(), kBase.end());
    std::sort(entries.begin(), entries.end());
    return entries;
}

struct EnvironmentCase {
    const char* name;
    UserSession session;
    std::vector<SessionProcess> processes;
    std::map<uint32_t, std::vector<std::string>> environments;
    std::vector<std::string> expected;  // besides the base
    std::vector<uint32_t> askedFirst;   // the order the first processes are asked in
};

void PrintTo(const EnvironmentCase& c, std::ostream* out) { *out << c.name; }

class SessionEnvironmentTest : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(SessionEnvironmentTest, TakesOnlyTheDisplayVariablesOfTheSessionsUser) {
    const EnvironmentCase& c = GetParam();
    ovtest::FakeSessionSource source;
    source.caller = {"ORVANE_REGISTRY=/tmp/t/registry.db", "LD_LIBRARY_PATH=/tmp/evil",
                     "PATH=/caller/bin", "ORVANE_=odd"};
    source.environments = c.environments;
    EXPECT_EQ(platform::userSessionEnvironment(c.session, c.processes, source),
              withBase(c.expected));
    ASSERT_GE(source.asked.size(), c.askedFirst.size());
    EXPECT_EQ(
        std::vector<uint32_t>(source.asked.begin(), source.asked.begin() + c.askedFirst.size()),
        c.askedFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionEnvironmentTest,
    ::testing::Values(
        // A display manager's session: the leader is root's session worker,
        // the variables come from the user's own processes in the session;
        // another user's display and the user's LD_PRELOAD are never taken.
        EnvironmentCase{
            "x11",
            {"2", 1000, 500, "x11", ":0"},
            {{400, 1001, "5"}, {500, 0, "2"}, {900, 1000, "2"}, {950, 1000, ""}},
            {{400, {"DISPLAY=:9", "XAUTHORITY=/home/other/.Xauthority"}},
             {500, {"LANG=C", "PATH=/usr/bin"}},
             {900,
              {"DISPLAY=:0", "XAUTHORITY=/run/user/1000/gdm/Xauthority",
               "LD_PRELOAD=/home/u/evil.so", "PATH=/home/u/bin", "XDG_RUNTIME_DIR=/run/user/1000",
               "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus"}},
             {950, {"DISPLAY=localhost:10.0", "LANG=de_DE.UTF-8"}}},
            {"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus", "DISPLAY=:0", "LANG=C",
             "ORVANE_REGISTRY=/tmp/t/registry.db", "XAUTHORITY=/run/user/1000/gdm/Xauthority",
             "XDG_RUNTIME_DIR=/run/user/1000", "XDG_SESSION_TYPE=x11"},
            {500, 900, 950}},
        // A Wayland session: the leader has the display; a value with a
        // line break is passed over for the next process's.
        EnvironmentCase{"wayland",
                        {"3", 1000, 600, "wayland", ""},
                        {{600, 1000, "3"}, {700, 1000, "3"}, {800, 1000, ""}},
                        {{600,
                          {"WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=/run/user/1000",
                           "DBUS_SESSION_BUS_ADDRESS=unix:path=/x\nDISPLAY=:7"}},
                         {800, {"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus"}}},
                        {"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus",
                         "ORVANE_REGISTRY=/tmp/t/registry.db", "WAYLAND_DISPLAY=wayland-0",
                         "XDG_RUNTIME_DIR=/run/user/1000", "XDG_SESSION_TYPE=wayland"},
                        {600, 700, 800}},
        // The leader's number now names a process of another session, and
        // a locale name that is a path is passed over.
        EnvironmentCase{
            "stale leader",
            {"6", 1000, 300, "x11", ":0"},
            {{300, 1000, "9"}, {900, 1000, "6"}, {950, 1000, "6"}},
            {{300, {"DISPLAY=:5", "LANG=C"}},
             {900, {"DISPLAY=:0", "LANG=/home/u/locale"}},
             {950, {"LANG=fr_FR.UTF-8@euro"}}},
            {"DISPLAY=:0", "LANG=fr_FR.UTF-8@euro", "ORVANE_REGISTRY=/tmp/t/registry.db",
             "XDG_RUNTIME_DIR=/run/user/1000", "XDG_SESSION_TYPE=x11"},
            {900, 950, 300}},
        // Nothing readable: logind's display and the user's runtime folder.
        EnvironmentCase{"x11 without readable processes",
                        {"4", 1000, 0, "x11", ":1"},
                        {{900, 1000, "4"}},
                        {},
                        {"DISPLAY=:1", "ORVANE_REGISTRY=/tmp/t/registry.db",
                         "XDG_RUNTIME_DIR=/run/user/1000", "XDG_SESSION_TYPE=x11"},
                        {900}}),
    [](const ::testing::TestParamInfo<EnvironmentCase>& info) {
        std::string name = info.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
        return name;
    });

TEST(UserSession, GraphicalOnlyWithAScreen) {
    for (const char* type : {"x11", "wayland", "mir"}) {
        EXPECT_TRUE(platform::isGraphicalSession({"1", 1000, 1, type, ""})) << type;
    }
    for (const char* type : {"tty", "unspecified", ""}) {
        EXPECT_FALSE(platform::isGraphicalSession({"1", 1000, 1, type, ""})) << type;
    }
}

TEST(LogindSessionSource, ReportsThisMachine) {
    platform::SessionSource& source = platform::sessionSource();
    std::vector<SessionProcess> processes;
    ASSERT_EQ(source.processes(processes), 0u);
    const auto self = std::find_if(processes.begin(), processes.end(), [](const SessionProcess& p) {
        return p.pid == static_cast<uint32_t>(::getpid());
    });
    ASSERT_NE(self, processes.end());
    EXPECT_EQ(self->uid, static_cast<uint32_t>(::getuid()));
    EXPECT_TRUE(std::is_sorted(
        processes.begin(), processes.end(),
        [](const SessionProcess& a, const SessionProcess& b) { return a.pid < b.pid; }));

    std::vector<std::string> environment;
    EXPECT_EQ(source.processEnvironment(static_cast<uint32_t>(::getpid()), environment), 0u);
    for (const std::string& entry : environment) EXPECT_NE(entry.find('='), std::string::npos);
    EXPECT_EQ(source.processEnvironment(0, environment), 87u);

    UserSession session;
    const uint32_t result = source.activeSession(session);
    if (std::filesystem::exists("/run/systemd/system")) {
        GTEST_SKIP() << "systemd runs here: the active session is the machine's own";
    }
    EXPECT_EQ(result, platform::kErrorNoLogind);
}

// No child of this process may be left to reap: the program is not ours.
bool noChildLeft() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

TEST(DetachedProcess, StartsWithTheArgumentsEnvironmentAndFolderGiven) {
    ovtest::TempFolder folder;
    folder.makeFolder("program folder");
    const std::filesystem::path program = folder.host("program folder") + "/stand-in";
    ASSERT_TRUE(ovtest::installProbe(program));

    platform::DetachedOptions options;
    options.workingDirectory = folder.host("program folder");
    options.environment = std::vector<std::string>{"A=1", "B=two words"};
    const std::vector<std::string> argv = {program.string(), "-style", "a b", "line\nbreak", ""};
    uint32_t pid = 0;
    ASSERT_EQ(platform::startDetachedProcess(argv, options, &pid), 0u);
    EXPECT_NE(pid, 0u);
    EXPECT_TRUE(noChildLeft());

    ovtest::LaunchRecord record;
    ASSERT_TRUE(ovtest::waitForRecord(program, record));
    EXPECT_EQ(record.arguments, argv);
    EXPECT_EQ(record.environment, (std::vector<std::string>{"A=1", "B=two words"}));
    EXPECT_EQ(record.workingFolder, folder.host("program folder"));
}

TEST(DetachedProcess, WithoutAnEnvironmentTheCallersIsUsed) {
    ovtest::TempFolder folder;
    const std::filesystem::path program = folder.host("stand-in");
    ASSERT_TRUE(ovtest::installProbe(program));
    ovtest::ScopedEnv marker("OV_DETACHED_MARKER", "here");
    ASSERT_EQ(platform::startDetachedProcess({program.string()}, {}), 0u);
    ovtest::LaunchRecord record;
    ASSERT_TRUE(ovtest::waitForRecord(program, record));
    EXPECT_NE(
        std::find(record.environment.begin(), record.environment.end(), "OV_DETACHED_MARKER=here"),
        record.environment.end());
}

TEST(DetachedProcess, ReportsWhatKeptTheProgramFromStarting) {
    ovtest::TempFolder folder;
    const std::filesystem::path program = folder.host("stand-in");
    ASSERT_TRUE(ovtest::installProbe(program));

    uint32_t pid = 1;
    EXPECT_EQ(platform::startDetachedProcess({folder.host("missing")}, {}, &pid), 2u);
    EXPECT_EQ(pid, 0u);
    platform::DetachedOptions nowhere;
    nowhere.workingDirectory = folder.host("no such folder");
    EXPECT_EQ(platform::startDetachedProcess({program.string()}, nowhere), 2u);
    EXPECT_EQ(platform::startDetachedProcess({}, {}), 87u);
    folder.writeFile("not a program", "plain text");
    EXPECT_EQ(platform::startDetachedProcess({folder.host("not a program")}, {}), 5u);
    EXPECT_TRUE(noChildLeft());
    EXPECT_FALSE(std::filesystem::exists(program.string() + ".ran"));
}

}  // namespace
