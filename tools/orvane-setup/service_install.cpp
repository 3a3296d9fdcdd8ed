#include "tools/orvane-setup/service_install.h"

#include <chrono>
#include <string>
#include <thread>

#include "platform/path.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace setup {

namespace {

constexpr uint32_t kErrorServiceExists = 1073;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr uint32_t kErrorServiceNotActive = 1062;

std::string name() { return platform::toUtf8(kServiceName); }

}  // namespace

uint32_t installService(const std::filesystem::path& programFolder, std::string& status) {
    platform::ServiceManager manager;
    uint32_t rc = platform::ServiceManager::open(platform::kScManagerAllAccess, manager);
    if (rc != 0) return rc;

    // Registered as the application registers it: the program in the program
    // folder, unquoted, no arguments, one shared process, automatic start,
    // LocalSystem.
    platform::ServiceDescription description;
    description.name = kServiceName;
    description.displayName = kServiceName;
    description.binaryPath = platform::toWindowsPath((programFolder / kServiceProgram).string());
    description.serviceType = platform::kServiceWin32ShareProcess;
    description.startType = platform::kServiceAutoStart;
    description.errorControl = platform::kServiceErrorNormal;

    platform::Service service;
    rc = manager.createService(description, platform::kServiceAllAccess, service);
    if (rc == kErrorServiceExists) {
        status = name() + " kept as registered";
    } else if (rc != 0) {
        return rc;
    } else {
        status = name() + " registered for " + platform::toUtf8(description.binaryPath) +
                 ", start type automatic";
    }
    // Under systemd the service is a unit enabled for boot: it is started now
    // as well, so protection runs from the install on. Without systemd it
    // would not come back after a reboot anyway; the application's start-up
    // check offers to start it.
    if (!platform::systemdIsInitSystem()) return 0;
    if (rc == kErrorServiceExists &&
        platform::Service::open(manager, kServiceName, platform::kServiceAllAccess, service) != 0)
        return 0;
    const uint32_t started = service.start({});
    if (started == 0 || started == kErrorServiceAlreadyRunning) {
        status += ", running";
    } else {
        status += ", not started (error " + std::to_string(started) + ")";
    }
    return 0;
}

uint32_t removeService(std::string& status) {
    platform::ServiceManager manager;
    uint32_t rc = platform::ServiceManager::open(platform::kScManagerAllAccess, manager);
    if (rc != 0) return rc;
    platform::Service service;
    rc = platform::Service::open(manager, kServiceName, platform::kServiceAllAccess, service);
    if (rc == kErrorServiceDoesNotExist) {
        status = name() + " was not registered";
        return 0;
    }
    if (rc != 0) return rc;
    // A running service is stopped before its record goes, and given a
    // while to wind down.
    platform::ServiceStatusProcess state;
    const uint32_t stopped = service.control(platform::kServiceControlStop, state);
    if (stopped == 0) {
        for (int i = 0; i < 100 && state.currentState != platform::kServiceStopped; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (service.queryStatus(state) != 0) break;
        }
    } else if (stopped != kErrorServiceNotActive) {
        status = name() + " could not be stopped (error " + std::to_string(stopped) + "); ";
    }
    rc = service.deleteService();
    if (rc != 0) return rc;
    status += name() + " removed";
    return 0;
}

}  // namespace setup
