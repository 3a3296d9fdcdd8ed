// The systemd backend of the service manager: a unit per AUTO_START
// service, enabled for boot, and start, stop and status through systemctl
// and systemd's runtime files.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/error.h"
#include "platform/linux/scm_internal.h"
#include "platform/linux/service_runtime.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform::detail {

namespace {

std::string unitFolder() {
    const char* own = std::getenv("ORVANE_SYSTEMD_UNIT_DIR");
    return own && own[0] == '/' ? own : "/etc/systemd/system";
}

uint32_t systemctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"systemctl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess child;
    uint32_t rc = ChildProcess::spawn(argv, SpawnOptions{}, child);
    if (rc != 0) return rc;
    rc = child.wait(std::chrono::seconds(90));
    if (rc != 0) return kErrorServiceRequestTimeout;
    return child.exitCode() == 0 ? kErrorSuccess : kErrorInvalidFunction;
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Quotes one word for a unit file's command line.
std::string quoted(const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string systemdUnitText(const ServiceDescription& description) {
    std::vector<std::string> argv = splitImagePath(description.binaryPath);
    std::string exec;
    for (const std::string& word : argv) exec += (exec.empty() ? "" : " ") + quoted(word);
    const std::u16string& display =
        description.displayName.empty() ? description.name : description.displayName;
    std::string text = "[Unit]\nDescription=" + toUtf8(display) + "\n\n[Service]\nType=notify\n";
    text += "ExecStart=" + exec + "\n";
    // A stop ends the service's own process only: the alert windows and the
    // application it started in the user's session stay in its control
    // group, and they are the user's to close.
    text += "NotifyAccess=main\nKillMode=process\nTimeoutStopSec=30\n";
    text += "\n[Install]\nWantedBy=multi-user.target\n";
    return text;
}

uint32_t installSystemdUnit(const ServiceDescription& description) {
    const std::string unit = systemdUnitName(description.name);
    const std::string path = unitFolder() + "/" + unit;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << systemdUnitText(description);
        if (!out) return kErrorAccessDenied;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) return setLastErrorFromErrno(errno);
    uint32_t rc = systemctl({"daemon-reload"});
    if (rc == 0) rc = systemctl({"enable", unit});
    if (rc != 0) {
        ::unlink(path.c_str());
        (void)systemctl({"daemon-reload"});
        return rc;
    }
    return writeServiceUnitMarker(description.name, unit);
}

void removeSystemdUnit(const std::string& unit) {
    if (!systemdRunning()) return;
    (void)systemctl({"disable", "--now", unit});
    ::unlink((unitFolder() + "/" + unit).c_str());
    (void)systemctl({"daemon-reload"});
}

uint32_t startSystemdUnit(const std::string& unit) { return systemctl({"start", unit}); }

uint32_t stopSystemdUnit(const std::string& unit) { return systemctl({"stop", unit}); }

ServiceStatusProcess systemdUnitStatus(const std::string& unit, uint32_t serviceType) {
    ServiceStatusProcess status;
    status.serviceType = serviceType;
    status.currentState = kServiceStopped;
    // systemd keeps an invocation file while a unit is active; its main
    // process is the first one of the unit's control group.
    struct stat st {};
    if (::lstat(("/run/systemd/units/invocation:" + unit).c_str(), &st) != 0) return status;
    status.currentState = kServiceRunning;
    status.controlsAccepted = kServiceAcceptStop;
    std::string procs = readText("/sys/fs/cgroup/system.slice/" + unit + "/cgroup.procs");
    status.processId = static_cast<uint32_t>(std::strtoul(procs.c_str(), nullptr, 10));
    return status;
}

}  // namespace platform::detail
