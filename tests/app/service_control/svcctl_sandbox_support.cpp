#include "app/service_control/svcctl_sandbox_support.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/service_control/service_control.h"
#include "app/shell/startup.h"
#include "app/settings/feedback.h"
#include "common/registry_names.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace svcctltest {

Sandbox::Sandbox() {
    m_env.push_back(
        std::make_unique<ovtest::ScopedEnv>("ORVANE_REGISTRY", (dir() / "registry.db").string()));
    m_env.push_back(
        std::make_unique<ovtest::ScopedEnv>("ORVANE_RUNTIME_DIR", (dir() / "run").string()));
    m_env.push_back(std::make_unique<ovtest::ScopedEnv>("ORVANE_EVENT_LOG", eventLog().string()));
    m_env.push_back(
        std::make_unique<ovtest::ScopedEnv>("ORVANE_SYSTEMD_UNIT_DIR", (dir() / "units").string()));
    m_env.push_back(
        std::make_unique<ovtest::ScopedEnv>("ORVANE_AUTOSTART_DIR", autostartFolder().string()));
    fs::create_directories(dir() / "run");
    fs::create_directories(dir() / "units");
    fs::create_directories(autostartFolder());
    fs::create_directories(programFolder());
    fs::create_symlink(OV_STATE_SERVICE, programFolder() / "ovrtsrv");
    platform::resetRegistryConnection();
    platform::RegKey key;
    (void)platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey, key);
    (void)platform::RegKey::create(platform::RegRoot::LocalMachine, names::kDataKey, key);
    // An installation whose one-time feedback offer was already made, so that
    // a main dialog opens without it.
    (void)platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey,
                               names::kFeedBack, kFeedBackShown);
    m_oldDirectory = fs::current_path();
    fs::current_path(programFolder());
    gServiceControlTiming.settleWait = std::chrono::milliseconds(0);
    (void)gStartupLog.Open(platform::toWindowsPath(startupLog().string()));
}

Sandbox::~Sandbox() {
    gStartupLog.Close();
    stopService();
    ResetServiceControlTiming();
    fs::current_path(m_oldDirectory);
    platform::resetRegistryConnection();
}

void Sandbox::installStandIn() {
    platform::ServiceManager manager;
    (void)platform::ServiceManager::open(platform::kScManagerAllAccess, manager);
    platform::ServiceDescription description;
    description.name = kOrvaneServiceName;
    description.binaryPath = platform::toWindowsPath((programFolder() / "ovrtsrv").string());
    description.serviceType = platform::kServiceWin32ShareProcess;
    description.startType = platform::kServiceDemandStart;
    platform::Service service;
    (void)manager.createService(description, platform::kServiceAllAccess, service);
}

bool Sandbox::startStandIn(const std::u16string& state) {
    platform::ServiceManager manager;
    if (platform::ServiceManager::open(platform::kScManagerAllAccess, manager) != 0) return false;
    platform::Service service;
    if (platform::Service::open(manager, kOrvaneServiceName, platform::kServiceAllAccess,
                                service) != 0) {
        return false;
    }
    if (service.start({state}) != 0) return false;
    // The stand-in reports its state right after taking its channel; until
    // then the manager shows it start-pending.
    const uint32_t wanted = state == u"start-pending"      ? platform::kServiceStartPending
                            : state == u"paused"           ? platform::kServicePaused
                            : state == u"pause-pending"    ? platform::kServicePausePending
                            : state == u"continue-pending" ? platform::kServiceContinuePending
                                                           : platform::kServiceRunning;
    for (int i = 0; i < 500; ++i) {
        if (currentState() == wanted) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

uint32_t Sandbox::standInPid() const {
    platform::ServiceManager manager;
    if (platform::ServiceManager::open(platform::kScManagerConnect, manager) != 0) return 0;
    platform::Service service;
    if (platform::Service::open(manager, kOrvaneServiceName, platform::kServiceQueryStatus,
                                service) != 0) {
        return 0;
    }
    platform::ServiceStatusProcess status;
    return service.queryStatus(status) == 0 ? status.processId : 0;
}

uint32_t Sandbox::currentState() const {
    platform::ServiceManager manager;
    if (platform::ServiceManager::open(platform::kScManagerConnect, manager) != 0) return 0;
    platform::Service service;
    if (platform::Service::open(manager, kOrvaneServiceName, platform::kServiceQueryStatus,
                                service) != 0) {
        return 0;
    }
    platform::ServiceStatusProcess status;
    return service.queryStatus(status) == 0 ? status.currentState : 0;
}

void Sandbox::stopService() {
    const uint32_t pid = standInPid();
    if (pid == 0) return;
    platform::ServiceManager manager;
    if (platform::ServiceManager::open(platform::kScManagerAllAccess, manager) == 0) {
        platform::Service service;
        if (platform::Service::open(manager, kOrvaneServiceName, platform::kServiceAllAccess,
                                    service) == 0) {
            platform::ServiceStatusProcess status;
            (void)service.control(platform::kServiceControlStop, status);
        }
    }
    for (int i = 0; i < 300 && platform::probeProcess(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (platform::probeProcess(pid)) (void)platform::terminateProcess(pid, 1);
}

void Sandbox::setFlag(const char16_t* name, uint32_t value) {
    (void)platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value);
}

uint32_t Sandbox::flag(const char16_t* name) const {
    uint32_t value = 0;
    if (platform::readDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value) !=
        0) {
        return 0xFFFFFFFFu;
    }
    return value;
}

std::string Sandbox::startupLogText() const {
    std::ifstream in(startupLog(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return platform::toUtf8(text);
}

bool Sandbox::systemdIsInit() {
    struct stat st {};
    return ::lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace svcctltest
