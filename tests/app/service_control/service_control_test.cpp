// Installing, querying, starting and stopping the service through the
// built-in service manager, with a stand-in service that holds any state.
#include "app/service_control/service_control.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/service_control/svcctl_sandbox_support.h"
#include "app/shell/scripted_prompts.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/scm.h"

namespace {

using svcctltest::Sandbox;

// A started service reports running a moment after its start returned, a
// stopped one ends a moment after its stop: the state is awaited.
bool settlesIn(const Sandbox& sandbox, uint32_t state) {
    for (int i = 0; i < 500; ++i) {
        if (sandbox.currentState() == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct StateCase {
    const char* name;
    bool installed;
    const char16_t* startedIn;  // null: not started
    bool killed;
    uint32_t expected;
    const char* logLine;
};

class CheckServiceStateTable : public ::testing::TestWithParam<StateCase> {};

TEST_P(CheckServiceStateTable, MapsTheServiceStateToItsCode) {
    const StateCase& c = GetParam();
    Sandbox sandbox;
    if (c.installed) sandbox.installStandIn();
    if (c.startedIn != nullptr) {
        ASSERT_TRUE(sandbox.startStandIn(c.startedIn));
    }
    if (c.killed) {
        const uint32_t pid = sandbox.standInPid();
        ASSERT_NE(pid, 0u);
        ASSERT_EQ(platform::terminateProcess(pid, 1), 0u);
        for (int i = 0; i < 500 && platform::probeProcess(pid); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_EQ(CheckServiceState(), c.expected);
    const std::string log = sandbox.startupLogText();
    EXPECT_EQ(log.rfind("[INFO] CheckServiceState: Start...\n", 0), 0u) << log;
    EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    States, CheckServiceStateTable,
    ::testing::Values(
        StateCase{"NotInstalled", false, nullptr, false, SERVICE_STATE_NOT_INSTALLED,
                  "[INFO] CheckServiceState: OpenService Failed, Service Not Exist.\n"},
        StateCase{"Stopped", true, nullptr, false, SERVICE_STATE_STOPPED,
                  "[INFO] CheckServiceState: Current State: STOP.\n"},
        StateCase{"Running", true, u"running", false, SERVICE_STATE_RUNNING,
                  "[INFO] CheckServiceState: Current State: RUNNING.\n"},
        StateCase{"StartPending", true, u"start-pending", false, SERVICE_STATE_RUNNING,
                  "[INFO] CheckServiceState: Current State: RUNNING.\n"},
        StateCase{"Paused", true, u"paused", false, SERVICE_STATE_STOPPED,
                  "[INFO] CheckServiceState: Current State: PAUSE/STOP.\n"},
        StateCase{"PausePending", true, u"pause-pending", false, SERVICE_STATE_STOPPED,
                  "[INFO] CheckServiceState: Current State: PAUSE/STOP.\n"},
        StateCase{"ContinuePending", true, u"continue-pending", false, SERVICE_STATE_UNKNOWN,
                  "[INFO] CheckServiceState: END\n"},
        StateCase{"KilledWhileRunning", true, u"running", true, SERVICE_STATE_STOPPED,
                  "[INFO] CheckServiceState: Current State: STOP.\n"}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

struct HandleCase {
    const char* name;
    const char16_t* startedIn;  // null: stopped
    uint32_t start;
    uint32_t stateAfter;  // the service's state afterwards
    uint32_t serviceState;
    const char* logLine;  // empty: no error line
};

class HandleServiceStateTable : public ::testing::TestWithParam<HandleCase> {};

TEST_P(HandleServiceStateTable, StartsOrStopsAndRecordsTheRequest) {
    const HandleCase& c = GetParam();
    Sandbox sandbox;
    sandbox.installStandIn();
    if (c.startedIn != nullptr) {
        ASSERT_TRUE(sandbox.startStandIn(c.startedIn));
    }
    sandbox.setFlag(names::kServiceState, 7);
    EXPECT_EQ(HandleServiceState(c.start), 1);
    EXPECT_EQ(sandbox.flag(names::kServiceState), c.serviceState);
    EXPECT_TRUE(settlesIn(sandbox, c.stateAfter)) << sandbox.currentState();
    const std::string log = sandbox.startupLogText();
    if (c.logLine[0] != '\0') {
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
    } else {
        EXPECT_EQ(log.find("[ERROR]"), std::string::npos) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HandleServiceStateTable,
    ::testing::Values(
        HandleCase{"StartStopped", nullptr, 1, platform::kServiceRunning, 0, ""},
        HandleCase{"StartRunning", u"running", 1, platform::kServiceRunning, 0,
                   "[ERROR] HandleServiceState: Cannot start the service because it is already "
                   "running\n"},
        // Paused is not stopped: it is left paused and only recorded.
        HandleCase{"StartPaused", u"paused", 1, platform::kServicePaused, 0, "already running\n"},
        HandleCase{"StopRunning", u"running", 0, platform::kServiceStopped, 1, ""},
        HandleCase{"StopStopped", nullptr, 0, platform::kServiceStopped, 1,
                   "[ERROR] HandleServiceState: Cannot start the service because it is already "
                   "stop.\n"}),
    [](const ::testing::TestParamInfo<HandleCase>& info) { return std::string(info.param.name); });

TEST(HandleServiceState, MissingServiceReturnsZeroAndRecordsNothing) {
    Sandbox sandbox;
    sandbox.setFlag(names::kServiceState, 7);
    EXPECT_EQ(HandleServiceState(1), 0);
    EXPECT_EQ(sandbox.flag(names::kServiceState), 7u);
    EXPECT_NE(sandbox.startupLogText().find(
                  "[ERROR] HandleServiceState: OpenService failed, code: 1060\n"),
              std::string::npos);
}

TEST(SvcInstall, RegistersTheProgramFolderServiceAndStartsIt) {
    if (Sandbox::systemdIsInit()) {
        GTEST_SKIP() << "systemd is this machine's init: an automatic-start service would "
                        "become one of its units";
    }
    Sandbox sandbox;
    ScriptedPrompts prompts;
    SvcInstall();
    EXPECT_TRUE(prompts.questions().empty());
    EXPECT_TRUE(settlesIn(sandbox, platform::kServiceRunning));

    platform::ServiceManager manager;
    ASSERT_EQ(platform::ServiceManager::open(platform::kScManagerAllAccess, manager), 0u);
    platform::Service service;
    ASSERT_EQ(platform::Service::open(manager, kOrvaneServiceName, platform::kServiceQueryConfig,
                                      service),
              0u);
    platform::ServiceDescription description;
    ASSERT_EQ(service.queryDescription(description), 0u);
    // The folder's name has a blank; the path is stored unquoted.
    EXPECT_EQ(description.binaryPath,
              platform::toWindowsPath((sandbox.programFolder() / "ovrtsrv").string()));
    EXPECT_EQ(description.serviceType, platform::kServiceWin32ShareProcess);
    EXPECT_EQ(description.startType, platform::kServiceAutoStart);
    EXPECT_EQ(description.errorControl, platform::kServiceErrorNormal);
    EXPECT_EQ(description.displayName, kOrvaneServiceName);
    EXPECT_TRUE(description.dependencies.empty());
    const std::string log = sandbox.startupLogText();
    EXPECT_EQ(log, "[INFO] SvcInstall: Start...\n[INFO] SvcInstall: END.\n");
}

TEST(SvcInstall, FailuresAreShownAndLogged) {
    if (Sandbox::systemdIsInit()) {
        GTEST_SKIP() << "systemd is this machine's init: an automatic-start service would "
                        "become one of its units";
    }
    Sandbox sandbox;
    ScriptedPrompts prompts;
    // No service program in the current directory: created, not started.
    std::filesystem::current_path(sandbox.dir());
    SvcInstall();
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, u"StartService failed (2)\n");
    EXPECT_EQ(prompts.questions()[0].caption, kStartServiceErrorCaption);
    EXPECT_FALSE(prompts.questions()[0].hasOwner);
    // Once more: the service exists.
    SvcInstall();
    ASSERT_EQ(prompts.questions().size(), 2u);
    EXPECT_EQ(prompts.questions()[1].text, u"CreateService failed (1073)\n");
    EXPECT_EQ(prompts.questions()[1].caption, kServiceErrorCaption);
    const std::string log = sandbox.startupLogText();
    EXPECT_NE(log.find("StartService failed (2)\n[INFO] SvcInstall: END.\n"), std::string::npos);
    EXPECT_NE(log.find("[INFO] SvcInstall: Start...\nCreateService failed (1073)\n"),
              std::string::npos);
}

struct StartupCase {
    const char* name;
    bool installed;
    const char16_t* startedIn;
    int32_t answer;  // 0: no question expected
    uint32_t stateAfter;
    uint32_t serviceState;  // 7: left as it was
};

class StartupCheckTable : public ::testing::TestWithParam<StartupCase> {};

TEST_P(StartupCheckTable, FollowsTheServiceStateAndTheAnswer) {
    const StartupCase& c = GetParam();
    if (!c.installed && Sandbox::systemdIsInit()) {
        GTEST_SKIP() << "systemd is this machine's init: installing would make one of its units";
    }
    Sandbox sandbox;
    if (c.installed) sandbox.installStandIn();
    if (c.startedIn != nullptr) {
        ASSERT_TRUE(sandbox.startStandIn(c.startedIn));
    }
    sandbox.setFlag(names::kServiceState, 7);
    ScriptedPrompts prompts;
    if (c.answer != 0) prompts.queueAnswer(c.answer);
    RunServiceStartupCheck();
    if (c.answer != 0) {
        ASSERT_EQ(prompts.questions().size(), 1u);
        EXPECT_EQ(prompts.questions()[0].text, kStartQuestion);
        EXPECT_EQ(prompts.questions()[0].caption, kStartQuestionCaption);
        EXPECT_EQ(prompts.questions()[0].buttons, PromptButtons::YesNo);
    } else {
        EXPECT_TRUE(prompts.questions().empty());
    }
    EXPECT_TRUE(settlesIn(sandbox, c.stateAfter)) << sandbox.currentState();
    EXPECT_EQ(sandbox.flag(names::kServiceState), c.serviceState);
}

INSTANTIATE_TEST_SUITE_P(
    Branches, StartupCheckTable,
    ::testing::Values(
        StartupCase{"StoppedYes", true, nullptr, kAnswerYes, platform::kServiceRunning, 0},
        StartupCase{"StoppedNo", true, nullptr, kAnswerNo, platform::kServiceStopped, 1},
        StartupCase{"NotInstalled", false, nullptr, 0, platform::kServiceRunning, 0},
        StartupCase{"Running", true, u"running", 0, platform::kServiceRunning, 0},
        StartupCase{"Unknown", true, u"continue-pending", 0, platform::kServiceContinuePending, 7}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

TEST(ServiceState, WrittenOnlyWhereTheSettingsKeyStands) {
    Sandbox sandbox;
    WriteServiceState(1);
    EXPECT_EQ(ReadServiceState(), 1u);
    ASSERT_EQ(platform::deleteTree(platform::RegRoot::LocalMachine, names::kSettingsKey), 0u);
    WriteServiceState(1);
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key),
              2u);
    EXPECT_EQ(ReadServiceState(), 0u);
}

}  // namespace
