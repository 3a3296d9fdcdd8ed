#include "tools/orvane-setup/service_install.h"

#include "platform/path.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace setup {

namespace {

constexpr uint32_t kErrorServiceExists = 1073;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;

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
        return 0;
    }
    if (rc != 0) return rc;
    // The first start belongs here, as SvcInstall starts the service it
    // creates (under systemd that also enables its unit for boot). It needs
    // the manager's Service::start, which this build does not have yet; until
    // then the service is registered only, and the application's start-up
    // check starts it.
    status = name() + " registered for " + platform::toUtf8(description.binaryPath) +
             ", start type automatic";
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
    // A running service is stopped before its record goes, with the
    // manager's stop control (Service::control), once this build has it.
    rc = service.deleteService();
    if (rc != 0) return rc;
    status = name() + " removed";
    return 0;
}

}  // namespace setup
