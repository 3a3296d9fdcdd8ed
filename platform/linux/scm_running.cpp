// Running services on the built-in backend: start (detached, with a control
// socket in the runtime folder), live status, controls.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/detached_process.h"
#include "platform/linux/scm_internal.h"
#include "platform/linux/service_runtime.h"
#include "platform/mutex.h"
#include "platform/path.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr int kControlTimeoutMs = 30000;

uint32_t fail(uint32_t code) {
    setLastError(code);
    return code;
}

uint32_t succeed() {
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Waits until fd is readable; false on timeout.
bool waitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        int ready = ::poll(&entry, 1, timeoutMs);
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool readFully(int fd, void* data, size_t size, int timeoutMs) {
    auto* at = static_cast<char*>(data);
    while (size > 0) {
        if (!waitReadable(fd, timeoutMs)) return false;
        ssize_t got = ::read(fd, at, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool writeFully(int fd, const void* data, size_t size) {
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t put = ::send(fd, at, size, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

ServiceStatusProcess stoppedStatus(uint32_t serviceType) {
    ServiceStatusProcess status;
    status.serviceType = serviceType;
    status.currentState = kServiceStopped;
    return status;
}

// A record that claims a live service whose process is gone (or whose id
// now names another process) reads as stopped.
ServiceStatusProcess builtInStatus(std::u16string_view name, uint32_t serviceType) {
    detail::ServiceRuntimeRecord record;
    if (!detail::readServiceRuntime(name, record)) return stoppedStatus(serviceType);
    if (record.status.currentState == kServiceStopped) {
        ServiceStatusProcess status = record.status;
        status.processId = 0;
        status.controlsAccepted = 0;
        return status;
    }
    const uint64_t startTime = detail::processStartTime(record.status.processId);
    if (startTime == 0 || startTime != record.processStartTime) return stoppedStatus(serviceType);
    return record.status;
}

bool fileExists(const std::string& host) {
    struct stat st {};
    return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

namespace detail {

std::vector<std::string> splitImagePath(std::u16string_view imagePath) {
    std::u16string text(imagePath);
    while (!text.empty() && text.front() == u' ') text.erase(text.begin());
    std::u16string program;
    std::u16string rest;
    if (!text.empty() && text.front() == u'"') {
        size_t close = text.find(u'"', 1);
        if (close == std::u16string::npos) return {};
        program = text.substr(1, close - 1);
        rest = text.substr(close + 1);
    } else if (fileExists(toHostPath(text))) {
        program = text;
    } else {
        size_t blank = text.find(u' ');
        program = text.substr(0, blank);
        if (blank != std::u16string::npos) rest = text.substr(blank + 1);
    }
    std::string host = program.empty() ? std::string() : toHostPath(program);
    if (host.empty()) return {};
    std::vector<std::string> argv{host};
    // The arguments split at blanks, with double quotes grouping.
    std::string current;
    bool quoted = false;
    bool any = false;
    for (char c : toUtf8(rest)) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) argv.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) argv.push_back(current);
    return argv;
}

ServiceStatusProcess liveServiceStatus(std::u16string_view name, uint32_t serviceType) {
    std::string unit;
    if (readServiceUnitMarker(name, unit) == 0 && systemdRunning())
        return systemdUnitStatus(unit, serviceType);
    return builtInStatus(name, serviceType);
}

}  // namespace detail

uint32_t Service::queryStatus(ServiceStatusProcess& out) const {
    out = ServiceStatusProcess{};
    if (!m_open) return fail(kErrorInvalidHandle);
    if ((m_access & kServiceQueryStatus) == 0) return fail(kErrorAccessDenied);
    if (m_systemdUnit) {
        out = detail::systemdUnitStatus(toUtf8(m_name), kServiceWin32OwnProcess);
        return succeed();
    }
    ServiceDescription description;
    uint32_t rc = detail::readServiceRecord(m_name, description);
    if (rc != 0) return fail(rc);
    out = detail::liveServiceStatus(m_name, description.serviceType);
    return succeed();
}

uint32_t Service::start(const std::vector<std::u16string>& arguments) const {
    if (!m_open) return fail(kErrorInvalidHandle);
    if (m_systemdUnit || (m_access & kServiceStart) == 0) return fail(kErrorAccessDenied);
    ServiceDescription description;
    uint32_t rc = detail::readServiceRecord(m_name, description);
    if (rc != 0) return fail(rc);
    if (description.startType == kServiceDisabled) return fail(kErrorServiceDisabled);
    std::string unit;
    if (detail::readServiceUnitMarker(m_name, unit) == 0 && detail::systemdRunning()) {
        if (detail::systemdUnitStatus(unit, description.serviceType).currentState !=
            kServiceStopped) {
            return fail(kErrorServiceAlreadyRunning);
        }
        rc = detail::startSystemdUnit(unit);
        return rc == 0 ? succeed() : fail(rc);
    }

    // One start at a time per service.
    NamedMutex starting;
    if (NamedMutex::acquire(detail::serviceStartMutexName(m_name), starting) != 0)
        return fail(kErrorServiceAlreadyRunning);
    if (detail::liveServiceStatus(m_name, description.serviceType).currentState != kServiceStopped)
        return fail(kErrorServiceAlreadyRunning);

    std::vector<std::string> argv = detail::splitImagePath(description.binaryPath);
    if (argv.empty()) return fail(kErrorPathNotFound);
    if (!fileExists(argv[0])) return fail(kErrorFileNotFound);

    const std::string base = detail::serviceRuntimeBase(m_name);
    if (base.empty()) return fail(kErrorAccessDenied);
    const std::string socketPath = base + ".ctl";
    sockaddr_un address;
    if (!fillAddress(socketPath, address)) return fail(kErrorFilenameExcedRange);
    struct stat st {};
    if (::lstat(socketPath.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) return fail(kErrorAccessDenied);
        ::unlink(socketPath.c_str());  // left by a service that died
    }
    Descriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.get() < 0) return fail(setLastErrorFromErrno(errno));
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 8) != 0) {
        return fail(setLastErrorFromErrno(errno));
    }
    ::chmod(socketPath.c_str(), 0600);
    int readyPipe[2];
    if (::pipe2(readyPipe, O_CLOEXEC) != 0) {
        ::unlink(socketPath.c_str());
        return fail(setLastErrorFromErrno(errno));
    }
    Descriptor readyRead(readyPipe[0]);
    Descriptor readyWrite(readyPipe[1]);

    detail::DetachedLaunch launch;
    launch.program = argv[0];
    launch.argv = argv;
    launch.env = detail::cleanEnvironment();
    launch.env.push_back(std::string(detail::kServiceNameVariable) + "=" + toUtf8(m_name));
    launch.env.push_back(std::string(detail::kServiceChannelVariable) + "=" +
                         std::to_string(detail::kServiceControlDescriptor) + ":" +
                         std::to_string(detail::kServiceReadyDescriptor));
    std::string joined;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) joined += '\x1f';
        joined += toUtf8(arguments[i]);
    }
    launch.env.push_back(std::string(detail::kServiceArgumentsVariable) + "=" + joined);
    launch.passDescriptors = {listener.get(), readyWrite.get()};
    launch.waitForGo = true;
    uint32_t pid = 0;
    int goFd = -1;
    rc = detail::launchDetached(launch, pid, goFd);
    readyWrite.reset();
    listener.reset();
    if (rc != 0) {
        ::unlink(socketPath.c_str());
        return fail(rc);
    }
    Descriptor go(goFd);

    // The status reads start pending from now on; the service's own reports
    // replace it.
    detail::ServiceRuntimeRecord record;
    record.status.serviceType = description.serviceType;
    record.status.currentState = kServiceStartPending;
    record.status.checkPoint = 0;
    record.status.waitHint = kStartTimeoutMs;
    record.status.processId = pid;
    record.processStartTime = detail::processStartTime(pid);
    if (!detail::writeServiceRuntime(m_name, record)) {
        go.reset();  // the program is not started
        ::unlink(socketPath.c_str());
        return fail(kErrorAccessDenied);
    }
    char byte = 1;
    if (::write(go.get(), &byte, 1) != 1) {
        ::unlink(socketPath.c_str());
        return fail(kErrorServiceRequestTimeout);
    }
    go.reset();

    char connected = 0;
    bool reached = readFully(readyRead.get(), &connected, 1, kStartTimeoutMs);
    if (!reached) {
        // The channel closed without the dispatcher taking it: the program
        // ended (or gave the channel up) and will never take controls. The
        // record says stopped once the process is gone (it closes its files
        // before it is gone). A program still silent after the time limit
        // keeps the start-pending record, as a hung start does.
        if (waitReadable(readyRead.get(), 0)) {
            for (int i = 0; i < 250 && detail::processStartTime(pid) == record.processStartTime &&
                            record.processStartTime != 0;
                 ++i) {
                ::usleep(20 * 1000);
            }
            record.status.currentState = kServiceStopped;
            record.status.processId = 0;
            (void)detail::writeServiceRuntime(m_name, record);
            ::unlink(socketPath.c_str());
        }
        return fail(kErrorServiceRequestTimeout);
    }
    return succeed();
}

uint32_t Service::control(uint32_t controlCode, ServiceStatusProcess& status) const {
    status = ServiceStatusProcess{};
    if (!m_open) return fail(kErrorInvalidHandle);
    uint32_t right = 0;
    switch (controlCode) {
        case kServiceControlStop:
        case kServiceControlShutdown:
            right = kServiceStop;
            break;
        case kServiceControlPause:
        case kServiceControlContinue:
            right = kServicePauseContinue;
            break;
        case kServiceControlInterrogate:
            right = kServiceInterrogate;
            break;
        default:
            if (controlCode < 128 || controlCode > 255) return fail(kErrorInvalidParameter);
            right = kServiceUserDefinedControl;
    }
    if (m_systemdUnit || (m_access & right) == 0) return fail(kErrorAccessDenied);
    ServiceDescription description;
    uint32_t rc = detail::readServiceRecord(m_name, description);
    if (rc != 0) return fail(rc);
    std::string unit;
    if (detail::readServiceUnitMarker(m_name, unit) == 0 && detail::systemdRunning()) {
        status = detail::systemdUnitStatus(unit, description.serviceType);
        if (status.currentState == kServiceStopped) return fail(kErrorServiceNotActive);
        if (controlCode == kServiceControlInterrogate) return succeed();
        if (controlCode != kServiceControlStop && controlCode != kServiceControlShutdown)
            return fail(kErrorServiceCannotAcceptCtrl);
        rc = detail::stopSystemdUnit(unit);
        status = detail::systemdUnitStatus(unit, description.serviceType);
        return rc == 0 ? succeed() : fail(rc);
    }

    status = builtInStatus(m_name, description.serviceType);
    if (status.currentState == kServiceStopped) return fail(kErrorServiceNotActive);
    const bool stopping =
        controlCode == kServiceControlStop || controlCode == kServiceControlShutdown;
    if (stopping && (status.controlsAccepted & (kServiceAcceptStop | kServiceAcceptShutdown)) == 0)
        return fail(kErrorServiceCannotAcceptCtrl);
    if ((controlCode == kServiceControlPause || controlCode == kServiceControlContinue) &&
        (status.controlsAccepted & kServiceAcceptPauseContinue) == 0) {
        return fail(kErrorServiceCannotAcceptCtrl);
    }

    sockaddr_un address;
    if (!fillAddress(detail::serviceRuntimeBase(m_name) + ".ctl", address))
        return fail(kErrorFilenameExcedRange);
    Descriptor channel(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (channel.get() < 0) return fail(setLastErrorFromErrno(errno));
    if (::connect(channel.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        status = builtInStatus(m_name, description.serviceType);
        return fail(status.currentState == kServiceStopped ? kErrorServiceNotActive
                                                           : kErrorServiceCannotAcceptCtrl);
    }
    detail::ControlRequest request{controlCode, 0};
    detail::ControlReply reply;
    if (!writeFully(channel.get(), &request, sizeof request) ||
        !readFully(channel.get(), &reply, sizeof reply, kControlTimeoutMs)) {
        status = builtInStatus(m_name, description.serviceType);
        return fail(kErrorServiceRequestTimeout);
    }
    status = reply.status;
    return reply.result == 0 ? succeed() : fail(reply.result);
}

}  // namespace platform

namespace platform {

bool systemdIsInitSystem() { return detail::systemdRunning(); }

}  // namespace platform
