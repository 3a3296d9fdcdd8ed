#include "app/service_control/service_control.h"

#include <cstdarg>
#include <thread>

#include "app/shell/app_log.h"
#include "app/shell/prompts.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"

ServiceControlTiming gServiceControlTiming;

void ResetServiceControlTiming() { gServiceControlTiming = ServiceControlTiming{}; }

namespace {

// A progress line is formatted into 8192 units, a boxed message into 512.
constexpr size_t kLineUnits = 8192;
constexpr size_t kMessageUnits = 512;
constexpr size_t kCurrentDirectoryUnits = 260;

void startupLine(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string line = platform::vformat16(format, args);
    va_end(args);
    if (line.size() > kLineUnits - 1) line.resize(kLineUnits - 1);
    gStartupLog.Write(line);
}

// The failure is shown in an ownerless box and written to the start-up log.
void showFailure(const char16_t* format, uint32_t code, const char16_t* caption) {
    std::u16string text = platform::format16(format, static_cast<int>(code));
    if (text.size() > kMessageUnits - 1) text.resize(kMessageUnits - 1);
    gStartupLog.Write(text);
    prompts().messageBox(nullptr, text, caption, PromptButtons::Ok, PromptIcon::Error);
}

bool isStopped(uint32_t state) {
    return state == platform::kServiceStopped || state == platform::kServiceStopPending;
}

void settle() {
    if (gServiceControlTiming.settleWait.count() > 0) {
        std::this_thread::sleep_for(gServiceControlTiming.settleWait);
    }
}

}  // namespace

uint32_t ReadServiceState() {
    uint32_t value = 0;
    uint32_t size = sizeof(value);
    if (GetRegValue(names::kSettingsKey, names::kServiceState, &value, &size) != 0) return 0;
    return value;
}

void WriteServiceState(uint32_t value) {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key) != 0) {
        return;
    }
    (void)key.setValue(names::kServiceState, platform::kRegDword, &value, sizeof(value));
}

void SvcInstall() {
    LogEntry(u"SvcInstall");
    startupLine(u"[INFO] SvcInstall: Start...\n");
    std::u16string path = platform::currentDirectory();
    if (path.empty() || path.size() > kCurrentDirectoryUnits - 1) {
        const uint32_t code =
            path.empty() ? platform::lastError() : platform::kErrorFilenameExcedRange;
        showFailure(u"Cannot install service (%d)\n", code, kServiceErrorCaption);
        return;
    }
    path += kServiceProgramName;

    platform::ServiceManager manager;
    uint32_t rc = platform::ServiceManager::open(platform::kScManagerAllAccess, manager);
    if (rc != 0) {
        showFailure(u"OpenSCManager failed (%d)\n", rc, kServiceErrorCaption);
        return;
    }
    platform::ServiceDescription description;
    description.name = kOrvaneServiceName;
    description.displayName = kOrvaneServiceName;
    description.binaryPath = path;
    description.serviceType = platform::kServiceWin32ShareProcess;
    description.startType = platform::kServiceAutoStart;
    description.errorControl = platform::kServiceErrorNormal;
    platform::Service service;
    rc = manager.createService(description, platform::kServiceAllAccess, service);
    if (rc != 0) {
        showFailure(u"CreateService failed (%d)\n", rc, kServiceErrorCaption);
        return;
    }
    rc = service.start({});
    if (rc != 0) showFailure(u"StartService failed (%d)\n", rc, kStartServiceErrorCaption);
    startupLine(u"[INFO] SvcInstall: END.\n");
}

uint32_t CheckServiceState() {
    LogEntry(u"CheckServiceState");
    startupLine(u"[INFO] CheckServiceState: Start...\n");
    platform::ServiceManager manager;
    uint32_t rc = platform::ServiceManager::open(platform::kScManagerAllAccess, manager);
    if (rc != 0) {
        startupLine(u"[INFO] CheckServiceState: OpenSCManager Failed, code: %d.\n", int(rc));
        return SERVICE_STATE_UNKNOWN;
    }
    platform::Service service;
    rc = platform::Service::open(manager, kOrvaneServiceName, platform::kServiceQueryStatus,
                                 service);
    if (rc != 0) {
        if (rc == platform::kErrorServiceDoesNotExist) {
            startupLine(u"[INFO] CheckServiceState: OpenService Failed, Service Not Exist.\n");
            return SERVICE_STATE_NOT_INSTALLED;
        }
        startupLine(u"[INFO] CheckServiceState: OpenService Failed, code: %d.\n", int(rc));
        return SERVICE_STATE_UNKNOWN;
    }
    platform::ServiceStatusProcess status;
    rc = service.queryStatus(status);
    if (rc != 0) {
        startupLine(u"[INFO] CheckServiceState: QueryServiceStatusEx Failed, code: %d.\n", int(rc));
        return SERVICE_STATE_UNKNOWN;
    }
    switch (status.currentState) {
        case platform::kServiceStopped:
        case platform::kServiceStopPending:
            startupLine(u"[INFO] CheckServiceState: Current State: STOP.\n");
            return SERVICE_STATE_STOPPED;
        case platform::kServiceStartPending:
        case platform::kServiceRunning:
            startupLine(u"[INFO] CheckServiceState: Current State: RUNNING.\n");
            return SERVICE_STATE_RUNNING;
        case platform::kServicePausePending:
        case platform::kServicePaused:
            startupLine(u"[INFO] CheckServiceState: Current State: PAUSE/STOP.\n");
            return SERVICE_STATE_STOPPED;
        default:
            startupLine(u"[INFO] CheckServiceState: END\n");
            return SERVICE_STATE_UNKNOWN;
    }
}

int32_t HandleServiceState(uint32_t start) {
    LogEntry(u"HandleServiceState");
    startupLine(u"[INFO] HandleServiceState: Start...\n");
    platform::ServiceManager manager;
    uint32_t rc = platform::ServiceManager::open(platform::kScManagerAllAccess, manager);
    if (rc != 0) {
        startupLine(u"[ERROR] HandleServiceState: OpenSCManager failed, code: %d\n", int(rc));
        return 0;
    }
    platform::Service service;
    rc = platform::Service::open(manager, kOrvaneServiceName, platform::kServiceAllAccess, service);
    if (rc != 0) {
        startupLine(u"[ERROR] HandleServiceState: OpenService failed, code: %d\n", int(rc));
        return 0;
    }
    platform::ServiceStatusProcess status;
    rc = service.queryStatus(status);
    if (rc != 0) {
        startupLine(u"[ERROR] HandleServiceState: QueryServiceStatusEx failed, code: %d\n",
                    int(rc));
        return 0;
    }
    const bool stopped = isStopped(status.currentState);
    if (start != 0) {
        if (!stopped) {
            startupLine(
                u"[ERROR] HandleServiceState: Cannot start the service because it is already "
                u"running\n");
            WriteServiceState(0);
            return 1;
        }
        rc = service.start({});
        if (rc != 0) {
            startupLine(u"[ERROR] HandleServiceState: Cannot start the service code: %d\n",
                        int(rc));
        }
        WriteServiceState(0);
    } else {
        if (stopped) {
            startupLine(
                u"[ERROR] HandleServiceState: Cannot start the service because it is already "
                u"stop.\n");
            WriteServiceState(1);
            return 1;
        }
        platform::ServiceStatusProcess after;
        rc = service.control(platform::kServiceControlStop, after);
        if (rc != 0) {
            startupLine(u"[ERROR] HandleServiceState: Cannot stop the service code: %d\n", int(rc));
        }
        WriteServiceState(1);
    }
    service.close();
    manager.close();
    settle();
    return 1;
}

void RunServiceStartupCheck() {
    switch (CheckServiceState()) {
        case SERVICE_STATE_STOPPED:
            if (prompts().messageBox(nullptr, kStartQuestion, kStartQuestionCaption,
                                     PromptButtons::YesNo, PromptIcon::Question) == kAnswerYes) {
                HandleServiceState(1);
                WriteServiceState(0);
            } else {
                WriteServiceState(1);
            }
            break;
        case SERVICE_STATE_NOT_INSTALLED:
            SvcInstall();
            HandleServiceState(1);
            WriteServiceState(0);
            break;
        case SERVICE_STATE_RUNNING:
            WriteServiceState(0);
            break;
        default:
            break;
    }
}
