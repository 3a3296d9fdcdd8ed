// The running half of the service manager that needs no service program:
// image paths, the status kept in the runtime folder, and the systemd unit.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "platform/error.h"
#include "platform/linux/scm_internal.h"
#include "platform/linux/service_runtime.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/temp_folder.h"

namespace {

using namespace platform;

class ScmRunningTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_registry =
            std::make_unique<ovtest::ScopedEnv>("ORVANE_REGISTRY", m_folder.host("registry.db"));
        m_runtime = std::make_unique<ovtest::ScopedEnv>("ORVANE_RUNTIME_DIR", m_folder.host("run"));
        resetRegistryConnection();
        ASSERT_EQ(ServiceManager::open(kScManagerAllAccess, m_manager), 0u);
    }
    void TearDown() override { resetRegistryConnection(); }

    void create(const std::u16string& name, const std::u16string& binary, Service& out,
                uint32_t startType = kServiceDemandStart) {
        ServiceDescription description;
        description.name = name;
        description.binaryPath = binary;
        description.startType = startType;
        ASSERT_EQ(m_manager.createService(description, kServiceAllAccess, out), 0u);
    }

    ovtest::TempFolder m_folder;
    std::unique_ptr<ovtest::ScopedEnv> m_registry, m_runtime;
    ServiceManager m_manager;
};

TEST(ImagePath, ProgramAndArgumentsOfACommandLine) {
    ovtest::TempFolder folder;
    folder.makeFolder("with space");
    folder.writeFile("with space/prog", "");
    const std::string host = folder.host("with space/prog");
    const std::u16string windows = toWindowsPath(host);
    struct Case {
        std::u16string line;
        std::vector<std::string> argv;
    } const cases[] = {
        {u"\"" + windows + u"\" -a \"b c\"", {host, "-a", "b c"}},
        {windows, {host}},
        {u"C:\\bin\\true --x", {"/bin/true", "--x"}},
        {u"\"unclosed", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(detail::splitImagePath(c.line), c.argv);
}

TEST_F(ScmRunningTest, AStoppedServiceAndADeadProcessReadAsStopped) {
    Service service;
    create(u"Probe", u"C:\\bin\\true", service);
    ServiceStatusProcess status;
    ASSERT_EQ(service.queryStatus(status), 0u);
    EXPECT_EQ(status.currentState, kServiceStopped);
    EXPECT_EQ(status.serviceType, kServiceWin32OwnProcess);

    // A record that says running, for a process that has ended.
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    const uint64_t start = detail::processStartTime(static_cast<uint32_t>(child));
    ::waitpid(child, nullptr, 0);
    detail::ServiceRuntimeRecord record;
    record.status.currentState = kServiceRunning;
    record.status.processId = static_cast<uint32_t>(child);
    record.processStartTime = start;
    ASSERT_TRUE(detail::writeServiceRuntime(u"Probe", record));
    ASSERT_EQ(service.queryStatus(status), 0u);
    EXPECT_EQ(status.currentState, kServiceStopped);
    EXPECT_EQ(status.processId, 0u);

    // This process, but with another start time: a reused id.
    record.status.processId = static_cast<uint32_t>(::getpid());
    record.processStartTime = detail::processStartTime(record.status.processId) + 1;
    ASSERT_TRUE(detail::writeServiceRuntime(u"Probe", record));
    ASSERT_EQ(service.queryStatus(status), 0u);
    EXPECT_EQ(status.currentState, kServiceStopped);

    // And with its own start time it reads as running.
    record.processStartTime = detail::processStartTime(record.status.processId);
    ASSERT_TRUE(detail::writeServiceRuntime(u"Probe", record));
    ASSERT_EQ(service.queryStatus(status), 0u);
    EXPECT_EQ(status.currentState, kServiceRunning);
    ServiceStatusProcess controlled;
    EXPECT_EQ(service.control(kServiceControlStop, controlled), kErrorServiceCannotAcceptCtrl);
}

TEST_F(ScmRunningTest, StartRefusesWhatCannotRun) {
    Service missing;
    create(u"Missing", u"C:\\no\\such\\program", missing);
    EXPECT_EQ(missing.start({}), kErrorFileNotFound);
    Service disabled;
    create(u"Disabled", u"C:\\bin\\true", disabled, kServiceDisabled);
    EXPECT_EQ(disabled.start({}), kErrorServiceDisabled);
    // A program that never reaches its dispatcher ends before it: 1053.
    Service notAService;
    create(u"NotAService", u"C:\\bin\\true", notAService);
    EXPECT_EQ(notAService.start({}), kErrorServiceRequestTimeout);
    ServiceStatusProcess status;
    ASSERT_EQ(notAService.queryStatus(status), 0u);
    EXPECT_EQ(status.currentState, kServiceStopped);
    ServiceStatusProcess controlled;
    EXPECT_EQ(notAService.control(kServiceControlStop, controlled), kErrorServiceNotActive);
    EXPECT_EQ(notAService.control(77, controlled), kErrorInvalidParameter);
}

TEST_F(ScmRunningTest, TheDispatcherNeedsTheManagersChannel) {
    EXPECT_EQ(runServiceDispatcher(u"Probe", [](const std::vector<std::u16string>&) {}),
              kErrorFailedServiceControllerConnect);
    ServiceStatusHandle handle;
    EXPECT_EQ(ServiceStatusHandle::registerControlHandler(
                  u"Probe", [](uint32_t, uint32_t) { return 0u; }, handle),
              kErrorFailedServiceControllerConnect);
}

TEST(SystemdUnit, TheUnitOfAnAutoStartService) {
    ServiceDescription description;
    description.name = u"Orvane Service";
    description.binaryPath = u"C:\\opt\\orvane\\bin\\ovrtsrv";
    EXPECT_EQ(detail::systemdUnitName(description.name), "orvane-service.service");
    const std::string text = detail::systemdUnitText(description);
    EXPECT_NE(text.find("Type=notify\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ExecStart=\"/opt/orvane/bin/ovrtsrv\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("WantedBy=multi-user.target\n"), std::string::npos) << text;
    // Stopping the service leaves what it started in the user's session.
    EXPECT_NE(text.find("\nKillMode=process\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("KillMode=mixed"), std::string::npos) << text;
}

TEST_F(ScmRunningTest, AnAutoStartServiceIsASystemdUnitWhereSystemdRuns) {
    if (!detail::systemdRunning())
        GTEST_SKIP() << "systemd is not the init system here; the built-in backend serves";
    if (::geteuid() != 0) GTEST_SKIP() << "enabling a unit needs root";
    Service service;
    create(u"Orvane Probe", u"C:\\bin\\sleep 600", service, kServiceAutoStart);
    EXPECT_TRUE(std::filesystem::exists("/etc/systemd/system/orvane-probe.service"));
    ServiceStatusProcess status;
    ASSERT_EQ(service.queryStatus(status), 0u);
    EXPECT_EQ(status.currentState, kServiceStopped);
    EXPECT_EQ(service.deleteService(), 0u);
    EXPECT_FALSE(std::filesystem::exists("/etc/systemd/system/orvane-probe.service"));
}

}  // namespace

namespace {

// The dispatcher under systemd: the notify protocol and SIGTERM as stop,
// with a notify socket of the test's own (systemd itself need not run).
TEST(ScmSystemdSide, NotifiesReadyAndStoppingAndTakesSigtermAsStop) {
    ovtest::TempFolder folder;
    const std::string socketPath = folder.host("notify");
    int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(notify, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sigset_t terms;
        sigemptyset(&terms);
        sigaddset(&terms, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &terms, nullptr);
        ::setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
        platform::ServiceStatusHandle handle;
        std::atomic<bool> stop{false};
        uint32_t rc =
            platform::runServiceDispatcher(u"Probe", [&](const std::vector<std::u16string>&) {
                if (platform::ServiceStatusHandle::registerControlHandler(
                        u"Probe",
                        [&](uint32_t control, uint32_t) {
                            platform::ServiceStatusProcess stopped;
                            stopped.serviceType = platform::kServiceWin32OwnProcess;
                            stopped.currentState = platform::kServiceStopped;
                            stop = control == platform::kServiceControlStop;
                            (void)handle.setStatus(stopped);
                            return 0u;
                        },
                        handle) != 0) {
                    ::_exit(3);
                }
                platform::ServiceStatusProcess running;
                running.serviceType = platform::kServiceWin32OwnProcess;
                running.currentState = platform::kServiceRunning;
                running.controlsAccepted = platform::kServiceAcceptStop;
                (void)handle.setStatus(running);
                while (!stop) ::usleep(10000);
            });
        ::_exit(rc == 0 && stop ? 0 : 4);
    }
    auto receive = [&]() {
        pollfd entry{notify, POLLIN, 0};
        if (::poll(&entry, 1, 60000) <= 0) return std::string();
        char buffer[512];
        ssize_t got = ::recv(notify, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
    };
    const std::string ready = receive();
    EXPECT_NE(ready.find("READY=1\n"), std::string::npos) << ready;
    EXPECT_NE(ready.find("STATUS=running\n"), std::string::npos) << ready;
    EXPECT_NE(ready.find("MAINPID=" + std::to_string(child) + "\n"), std::string::npos) << ready;
    ::kill(child, SIGTERM);
    const std::string stopping = receive();
    EXPECT_NE(stopping.find("STOPPING=1\n"), std::string::npos) << stopping;
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(notify);
}

}  // namespace
