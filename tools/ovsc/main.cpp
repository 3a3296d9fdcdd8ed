// ovsc: creates, starts, stops, queries and deletes services with the
// commands of Windows' sc. Exit code 0 on success, 1 when the manager
// refused (the Windows error is printed), 2 for bad usage.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/path.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace {

using platform::Service;
using platform::ServiceManager;
using platform::ServiceStatusProcess;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "DESCRIPTION:\n"
    "        OVSC is a command line program used for communicating with the\n"
    "        Service Control Manager and services.\n"
    "USAGE:\n"
    "        ovsc query  NAME\n"
    "        ovsc start  NAME [arguments...]\n"
    "        ovsc stop   NAME\n"
    "        ovsc create NAME binPath= PATH [start= auto|demand|disabled] [DisplayName= TEXT]\n"
    "        ovsc delete NAME\n"
    "\n"
    "        Option names include the equal sign; a space is required between\n"
    "        the equal sign and the value. PATH is a Windows-form command line\n"
    "        (a host path starting with / is taken as well).\n";

const char* errorText(uint32_t code) {
    switch (code) {
        case platform::kErrorFileNotFound:
            return "The system cannot find the file specified.";
        case platform::kErrorPathNotFound:
            return "The system cannot find the path specified.";
        case platform::kErrorAccessDenied:
            return "Access is denied.";
        case platform::kErrorInvalidParameter:
            return "The parameter is incorrect.";
        case platform::kErrorServiceRequestTimeout:
            return "The service did not respond to the start or control request in a timely "
                   "fashion.";
        case platform::kErrorServiceAlreadyRunning:
            return "An instance of the service is already running.";
        case platform::kErrorServiceDisabled:
            return "The service cannot be started, either because it is disabled or because it "
                   "has no enabled devices associated with it.";
        case platform::kErrorServiceDoesNotExist:
            return "The specified service does not exist as an installed service.";
        case platform::kErrorServiceCannotAcceptCtrl:
            return "The service cannot accept control messages at this time.";
        case platform::kErrorServiceNotActive:
            return "The service has not been started.";
        case platform::kErrorServiceExists:
            return "The specified service already exists.";
        default:
            return "The operation failed.";
    }
}

int failed(const char* operation, uint32_t code) {
    std::cout << "[SC] " << operation << " FAILED " << code << ":\n\n" << errorText(code) << "\n\n";
    return kExitFailed;
}

int usage() {
    std::cerr << kUsage;
    return kExitUsage;
}

const char* stateText(uint32_t state) {
    switch (state) {
        case platform::kServiceStopped:
            return "STOPPED";
        case platform::kServiceStartPending:
            return "START_PENDING";
        case platform::kServiceStopPending:
            return "STOP_PENDING";
        case platform::kServiceRunning:
            return "RUNNING";
        case platform::kServiceContinuePending:
            return "CONTINUE_PENDING";
        case platform::kServicePausePending:
            return "PAUSE_PENDING";
        case platform::kServicePaused:
            return "PAUSED";
        default:
            return "UNKNOWN";
    }
}

void printStatus(const std::u16string& name, const ServiceStatusProcess& status, bool withPid) {
    std::printf("\nSERVICE_NAME: %s\n", platform::toUtf8(name).c_str());
    std::printf("        TYPE               : %x  %s\n", status.serviceType,
                status.serviceType == platform::kServiceWin32OwnProcess ? "WIN32_OWN_PROCESS" : "");
    std::printf("        STATE              : %u  %s\n", status.currentState,
                stateText(status.currentState));
    if (status.currentState != platform::kServiceStopped) {
        std::printf(
            "                                (%s, %s, %s)\n",
            status.controlsAccepted & platform::kServiceAcceptStop ? "STOPPABLE" : "NOT_STOPPABLE",
            status.controlsAccepted & platform::kServiceAcceptPauseContinue ? "PAUSABLE"
                                                                            : "NOT_PAUSABLE",
            status.controlsAccepted & platform::kServiceAcceptShutdown ? "ACCEPTS_SHUTDOWN"
                                                                       : "IGNORES_SHUTDOWN");
    }
    std::printf("        WIN32_EXIT_CODE    : %u  (0x%x)\n", status.win32ExitCode,
                status.win32ExitCode);
    std::printf("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", status.serviceSpecificExitCode,
                status.serviceSpecificExitCode);
    std::printf("        CHECKPOINT         : 0x%x\n", status.checkPoint);
    std::printf("        WAIT_HINT          : 0x%x\n", status.waitHint);
    if (withPid) {
        std::printf("        PID                : %u\n", status.processId);
        std::printf("        FLAGS              :\n");
    }
}

int openService(const std::u16string& name, uint32_t access, Service& service) {
    ServiceManager manager;
    uint32_t managerAccess =
        (access & ~(platform::kServiceQueryStatus | platform::kServiceQueryConfig)) != 0
            ? platform::kScManagerAllAccess
            : platform::kScManagerConnect;
    uint32_t rc = ServiceManager::open(managerAccess, manager);
    if (rc != 0) return failed("OpenSCManager", rc);
    rc = Service::open(manager, name, access, service);
    if (rc != 0) return failed("OpenService", rc);
    return 0;
}

int query(const std::u16string& name) {
    Service service;
    if (int rc = openService(name, platform::kServiceQueryStatus, service)) return rc;
    ServiceStatusProcess status;
    uint32_t rc = service.queryStatus(status);
    if (rc != 0) return failed("QueryServiceStatus", rc);
    printStatus(service.name(), status, false);
    return 0;
}

int start(const std::u16string& name, const std::vector<std::u16string>& arguments) {
    Service service;
    if (int rc =
            openService(name, platform::kServiceStart | platform::kServiceQueryStatus, service)) {
        return rc;
    }
    uint32_t rc = service.start(arguments);
    if (rc != 0) return failed("StartService", rc);
    ServiceStatusProcess status;
    (void)service.queryStatus(status);
    printStatus(service.name(), status, true);
    return 0;
}

int stop(const std::u16string& name) {
    Service service;
    if (int rc =
            openService(name, platform::kServiceStop | platform::kServiceQueryStatus, service)) {
        return rc;
    }
    ServiceStatusProcess status;
    uint32_t rc = service.control(platform::kServiceControlStop, status);
    if (rc != 0) return failed("ControlService", rc);
    printStatus(service.name(), status, false);
    return 0;
}

int remove(const std::u16string& name) {
    Service service;
    if (int rc = openService(name, platform::kServiceDelete, service)) return rc;
    uint32_t rc = service.deleteService();
    if (rc != 0) return failed("DeleteService", rc);
    std::cout << "[SC] DeleteService SUCCESS\n";
    return 0;
}

int create(const std::u16string& name, const std::vector<std::string>& options) {
    platform::ServiceDescription description;
    description.name = name;
    bool havePath = false;
    for (size_t i = 0; i < options.size(); ++i) {
        std::string option = options[i];
        std::string value;
        if (i + 1 >= options.size()) return usage();
        value = options[++i];
        std::string lower = platform::toUtf8(platform::toLower(platform::toUtf16(option)));
        if (lower == "binpath=") {
            description.binaryPath = !value.empty() && value[0] == '/'
                                         ? platform::toWindowsPath(value)
                                         : platform::toUtf16(value);
            havePath = !description.binaryPath.empty();
        } else if (lower == "start=") {
            if (value == "auto")
                description.startType = platform::kServiceAutoStart;
            else if (value == "demand")
                description.startType = platform::kServiceDemandStart;
            else if (value == "disabled")
                description.startType = platform::kServiceDisabled;
            else
                return usage();
        } else if (lower == "displayname=") {
            description.displayName = platform::toUtf16(value);
        } else {
            return usage();
        }
    }
    if (!havePath) return usage();
    ServiceManager manager;
    uint32_t rc = ServiceManager::open(platform::kScManagerAllAccess, manager);
    if (rc != 0) return failed("OpenSCManager", rc);
    Service service;
    rc = manager.createService(description, platform::kServiceAllAccess, service);
    if (rc != 0) return failed("CreateService", rc);
    std::cout << "[SC] CreateService SUCCESS\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = platform::toUtf8(platform::toLower(platform::toUtf16(argv[1])));
    const std::u16string name = platform::toUtf16(argv[2]);
    if (name.empty()) return usage();
    std::vector<std::string> rest(argv + 3, argv + argc);
    if (command == "query" && rest.empty()) return query(name);
    if (command == "start") {
        std::vector<std::u16string> arguments;
        for (const std::string& arg : rest) arguments.push_back(platform::toUtf16(arg));
        return start(name, arguments);
    }
    if (command == "stop" && rest.empty()) return stop(name);
    if (command == "delete" && rest.empty()) return remove(name);
    if (command == "create") return create(name, rest);
    return usage();
}
