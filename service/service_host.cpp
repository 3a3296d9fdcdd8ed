#include "service/service_host.h"

#include <cstring>

#include "common/registry_names.h"
#include "platform/error.h"
#include "platform/eventlog.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/privilege.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "service/schedule_watcher.h"
#include "service/service_log.h"
#include "service/service_state.h"

namespace ovsvc {

namespace {

constexpr size_t kPathValueUnits = 255;  // 512 bytes with the terminator

bool isInstallArgument(const char* argument) {
    return platform::equalsIgnoreCase(platform::toUtf16(argument), u"install");
}

}  // namespace

bool EnablePrivilege(const char16_t* name) {
    uint32_t rc = platform::enablePrivilege(name);
    return rc == 0 && platform::lastError() == 0;
}

void ReportServiceFailure(const char* functionName) {
    const uint32_t error = platform::lastError();
    char text[80];
    std::snprintf(text, sizeof text, "%s failed with %d", functionName, static_cast<int>(error));
    (void)platform::reportEvent(kServiceName, platform::kEventLogError, 0, 0xFFFFFFFFu,
                                {kServiceName, platform::toUtf16(text)});
}

int UpdateMemoryData() {
    logText("UpdateMemoryData start.\n");
    logFlush();
    ServiceState& state = serviceState();
    // The named mapping exists as long as the service holds it, so the view
    // start-up made is the check that it is still there; opening it again
    // for each file (a lookup, a 64 MiB mapping and its removal) would cost
    // more than the rest of a small file's check.
    if (!state.mapping.isOpen()) {
        logText("UpdateMemoryData handle is null!!!.\n");
        logFlushNow();
        return 0;
    }
    logText("Copy start\n");
    logFlush();
    std::memcpy(state.mapping.view(), &state.status, sizeof state.status);
    logText("Copy END\n");
    logFlush();
    logText("UpdateMemoryData end.\n");
    logFlush();
    return 1;
}

void ReportSvcStatus(uint32_t currentState, uint32_t exitCode, uint32_t waitHint) {
    logText("[INFO] ReportSvcStatus=> Started...\n");
    logFormat("[INFO] ReportSvcStatus=> Report Status: Current: %d, Exit: %d, Hint: %d\n",
              static_cast<int>(currentState), static_cast<int>(exitCode),
              static_cast<int>(waitHint));
    ServiceState& state = serviceState();
    std::lock_guard<std::mutex> hold(state.statusLock);
    platform::ServiceStatusProcess& status = state.serviceStatus;
    status.serviceType = platform::kServiceWin32OwnProcess;
    status.currentState = currentState;
    status.win32ExitCode = exitCode;
    status.waitHint = waitHint;
    status.controlsAccepted =
        currentState == platform::kServiceStartPending ? 0 : platform::kServiceAcceptStop;
    if (currentState == platform::kServiceRunning || currentState == platform::kServiceStopped)
        status.checkPoint = 0;
    else
        status.checkPoint = state.checkPoint++;
    (void)state.statusHandle.setStatus(status);
}

uint32_t ControlHandler(uint32_t control, uint32_t eventType) {
    logFormat("[INFO] ControlHandler=> ControlHandler call with %d:%d\n", static_cast<int>(control),
              static_cast<int>(eventType));
    ServiceState& state = serviceState();
    std::lock_guard<std::mutex> hold(state.statusLock);
    switch (control) {
        case platform::kServiceControlStop:
            logText("[INFO] ControlHandler=> get STOP event\n");
            state.serviceStatus.currentState = platform::kServiceStopped;
            requestStop();
            break;
        case platform::kServiceControlShutdown:
            logText("[INFO] ControlHandler=> get SHUTDOWN event\n");
            state.serviceStatus.currentState = platform::kServiceStopped;
            requestStop();
            break;
        default:
            logFormat("[INFO] ControlHandler=> Unknown dwControl: %d\n", static_cast<int>(control));
            break;
    }
    if (state.serviceStatus.currentState == platform::kServiceStopped) {
        state.serviceStatus.checkPoint = 0;
        state.serviceStatus.controlsAccepted = 0;
    }
    logFlush();
    (void)state.statusHandle.setStatus(state.serviceStatus);
    return 0;
}

void SvcInit() {
    logText("[INFO] SvcInit=>  Started...\n");
    ReportSvcStatus(platform::kServiceRunning, 0, 0);
    // The schedule thread runs while the watcher loop does and is stopped
    // and joined when the loop ends with the stop control.
    ScheduleThread schedule;
    ScheduleWatcherHooks hooks;
    hooks.log = [](std::string_view line) { logText(line); };
    hooks.debug = [] { return debugEnabled(); };
    hooks.launchLog = [](std::u16string_view line) { logText(platform::toAnsi(line)); };
    schedule.start(std::move(hooks));
    logFlush();
    DoFileChangesWatcherThread();
    schedule.stop();
}

void SvcMain(const std::vector<std::u16string>& arguments) {
    logText("[INFO] SvcMain=> Entering SvcMain function...\n");
    ServiceState& state = serviceState();
    uint32_t rc = platform::ServiceStatusHandle::registerControlHandler(
        kServiceName, ControlHandler, state.statusHandle);
    if (rc != 0) {
        logFormat("[ERROR] SvcMain=> RegisterServiceCtrlHandlerEx return error: %d",
                  static_cast<int>(rc));
        platform::setLastError(rc);
        ReportServiceFailure("RegisterServiceCtrlHandler");
        return;
    }
    {
        std::lock_guard<std::mutex> hold(state.statusLock);
        state.serviceStatus.serviceType = platform::kServiceWin32OwnProcess;
        state.serviceStatus.serviceSpecificExitCode = 0;
    }
    ReportSvcStatus(platform::kServiceStartPending, 0, 3000);
    SvcInit();
}

void SvcInstall() {
    logText("[INFO] SvcInstall=> SvcInstall started...\n");
    const std::string self = platform::programFolderHost() + "/ovrtsrv";
    std::u16string path = platform::toWindowsPath(self);
    if (path.empty() || path.size() > 259) {
        logFormat("[ERROR] SvcInstall=> Cannot install service (%d)\n",
                  static_cast<int>(platform::kErrorFilenameExcedRange));
        return;
    }
    platform::ServiceManager manager;
    uint32_t rc = platform::ServiceManager::open(platform::kScManagerAllAccess, manager);
    if (rc != 0) {
        logFormat("[ERROR] SvcInstall=> OpenSCManager failed (%d)\n", static_cast<int>(rc));
        return;
    }
    platform::ServiceDescription description;
    description.name = kServiceName;
    description.displayName = kServiceName;
    description.binaryPath = path;
    description.serviceType = platform::kServiceWin32OwnProcess;
    description.startType = platform::kServiceDemandStart;
    description.errorControl = platform::kServiceErrorNormal;
    platform::Service service;
    rc = manager.createService(description, platform::kServiceAllAccess, service);
    if (rc != 0) {
        logFormat("[ERROR] SvcInstall=> CreateService failed (%d)\n", static_cast<int>(rc));
        return;
    }
    logText("[INFO] SvcInstall=> Service installed successfully\n");
}

int ServiceProgramMain(int argc, char** argv) {
    std::u16string path;
    if (platform::readString(platform::RegRoot::LocalMachine, names::kProductKey, names::kValuePath,
                             path) == 0) {
        if (path.size() > kPathValueUnits) path.resize(kPathValueUnits);
        (void)platform::setCurrentDirectory(path);
    }
    if (!openServiceLog()) return 0;
    logText("[INFO] main=> Logging started...\n");
    logText("[INFO] main=> Service executable started...\n");

    ServiceState& state = serviceState();
    std::memset(&state.status, 0, sizeof state.status);

    for (const char16_t* privilege : kServicePrivileges) {
        if (!EnablePrivilege(privilege)) {
            logFormat("[INFO] main=> Could not create file mapping object (%d).\n",
                      static_cast<int>(platform::lastError()));
            logFlush();
            closeServiceLog();
            return 0;
        }
    }
    uint32_t rc = platform::SharedMemory::create(kMappingName, kMappingSize, state.mapping);
    if (rc != 0) {
        logFormat("[INFO] main=> Could not create file mapping object (%d).\n",
                  static_cast<int>(rc));
        logFlush();
        closeServiceLog();
        return 0;
    }
    logText("[INFO] main=>  Map View Of File ok .\n");
    logFormat("[INFO] main=>  Shared Memory Ready (%d byte).\n", kAnnouncedMappingBytes);
    logFlush();

    if (argc > 1 && isInstallArgument(argv[1])) {
        SvcInstall();
        logFlush();
        state.mapping.close();
        closeServiceLog();
        return 0;
    }

    rc = platform::runServiceDispatcher(kServiceName, SvcMain);
    if (rc != 0) {
        logFormat("[INFO] main=> StartServiceCtrlDispatcher error %d...\n", static_cast<int>(rc));
        platform::setLastError(rc);
        ReportServiceFailure("StartServiceCtrlDispatcher");
    }
    logText("[INFO] main=> Logging finished!\n");
    closeServiceLog();
    state.mapping.close();
    return 0;
}

}  // namespace ovsvc
