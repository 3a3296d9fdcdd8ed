// The service program's side of the manager: the dispatcher that takes the
// control channel its starter handed over (or, under systemd, the notify
// socket and SIGTERM), the control handler and the status it publishes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/error.h"
#include "platform/linux/service_runtime.h"
#include "platform/mutex.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr auto kServiceMainGrace = std::chrono::seconds(5);
// ERROR_PROCESS_ABORTED: the service ended without saying so.
constexpr uint32_t kErrorProcessAborted = 1067;

// The one dispatcher of this process; it exists while runServiceDispatcher runs.
struct Dispatcher {
    std::u16string name;
    bool systemd = false;
    std::string notifySocket;
    int listener = -1;
    // The socket file of the listener, so that only it is ever removed.
    dev_t listenerDevice = 0;
    ino_t listenerInode = 0;
    int wake[2] = {-1, -1};
    std::mutex lock;
    ServiceControlHandler handler;
    bool handlerRegistered = false;
    ServiceStatusProcess status;
    uint64_t startTime = 0;
    bool stopped = false;
    bool mainReturned = false;
    std::condition_variable mainDone;
};

std::mutex g_dispatcherLock;
Dispatcher* g_dispatcher = nullptr;
// A dispatcher whose service thread did not return in time: the thread still
// uses it, so it stays until the process ends.
Dispatcher* g_abandoned = nullptr;

void notifySystemd(const std::string& socketPath, const std::string& message) {
    if (socketPath.empty()) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketPath.size());
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';  // abstract name
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    (void)::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                   reinterpret_cast<sockaddr*>(&address), length);
    ::close(fd);
}

const char* stateName(uint32_t state) {
    switch (state) {
        case kServiceStopped:
            return "stopped";
        case kServiceStartPending:
            return "start pending";
        case kServiceStopPending:
            return "stop pending";
        case kServiceRunning:
            return "running";
        default:
            return "pending";
    }
}

// The channel handed over by the built-in manager: "3:4" in the
// environment, a listening socket bound in the runtime folder for this
// service's name, and the ready pipe.
bool takeChannel(Dispatcher& dispatcher, int& readyFd) {
    const char* channel = std::getenv(detail::kServiceChannelVariable);
    const char* name = std::getenv(detail::kServiceNameVariable);
    if (!channel || !name) return false;
    if (!equalsIgnoreCase(toUtf16(name), dispatcher.name)) return false;
    int control = -1, ready = -1;
    if (std::sscanf(channel, "%d:%d", &control, &ready) != 2 || control < 3 || ready < 3)
        return false;
    int accepting = 0;
    socklen_t size = sizeof accepting;
    if (::getsockopt(control, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) != 0 || !accepting)
        return false;
    sockaddr_un bound{};
    socklen_t boundSize = sizeof bound;
    if (::getsockname(control, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0 ||
        bound.sun_family != AF_UNIX ||
        std::string(bound.sun_path) != detail::serviceRuntimeBase(dispatcher.name) + ".ctl") {
        return false;
    }
    struct stat socketFile {};
    if (::lstat(bound.sun_path, &socketFile) != 0 || !S_ISSOCK(socketFile.st_mode)) return false;
    ::fcntl(control, F_SETFD, FD_CLOEXEC);
    ::fcntl(ready, F_SETFD, FD_CLOEXEC);
    dispatcher.listener = control;
    dispatcher.listenerDevice = socketFile.st_dev;
    dispatcher.listenerInode = socketFile.st_ino;
    readyFd = ready;
    return true;
}

// Once this service has reported stopped, the manager may already be
// starting the next instance, which binds a new socket at the same path.
// Under the manager's start lock the path is looked at and removed only
// while it is still this instance's socket; a start under way means the
// file there is (or will be) the next instance's, which that start tidies.
void removeOwnSocket(const Dispatcher& dispatcher) {
    NamedMutex starting;
    if (NamedMutex::acquire(detail::serviceStartMutexName(dispatcher.name), starting) != 0) return;
    const std::string path = detail::serviceRuntimeBase(dispatcher.name) + ".ctl";
    struct stat now {};
    if (::lstat(path.c_str(), &now) == 0 && now.st_dev == dispatcher.listenerDevice &&
        now.st_ino == dispatcher.listenerInode) {
        ::unlink(path.c_str());
    }
}

std::vector<std::u16string> startArguments(const std::u16string& name) {
    std::vector<std::u16string> arguments{name};
    const char* joined = std::getenv(detail::kServiceArgumentsVariable);
    if (joined && *joined) {
        std::string text = joined;
        size_t begin = 0;
        for (;;) {
            size_t end = text.find('\x1f', begin);
            arguments.push_back(toUtf16(text.substr(begin, end - begin)));
            if (end == std::string::npos) break;
            begin = end + 1;
        }
    }
    return arguments;
}

uint32_t deliver(Dispatcher& dispatcher, uint32_t control, uint32_t eventType) {
    ServiceControlHandler handler;
    {
        std::lock_guard<std::mutex> hold(dispatcher.lock);
        if (!dispatcher.handlerRegistered) return kErrorServiceCannotAcceptCtrl;
        handler = dispatcher.handler;
    }
    return handler(control, eventType);
}

void answer(Dispatcher& dispatcher, int connection) {
    pollfd entry{connection, POLLIN, 0};
    if (::poll(&entry, 1, 5000) <= 0) return;
    detail::ControlRequest request;
    if (::recv(connection, &request, sizeof request, MSG_WAITALL) !=
        static_cast<ssize_t>(sizeof request)) {
        return;
    }
    detail::ControlReply reply;
    reply.result = deliver(dispatcher, request.control, request.eventType);
    {
        std::lock_guard<std::mutex> hold(dispatcher.lock);
        reply.status = dispatcher.status;
    }
    (void)::send(connection, &reply, sizeof reply, MSG_NOSIGNAL);
}

bool isStopped(Dispatcher& dispatcher) {
    std::lock_guard<std::mutex> hold(dispatcher.lock);
    return dispatcher.stopped;
}

}  // namespace

uint32_t runServiceDispatcher(std::u16string_view serviceName, ServiceMainFunction serviceMain) {
    auto owned = std::make_unique<Dispatcher>();
    Dispatcher& dispatcher = *owned;
    dispatcher.name = std::u16string(serviceName);
    int readyFd = -1;
    const char* notify = std::getenv("NOTIFY_SOCKET");
    if (notify && *notify) {
        dispatcher.systemd = true;
        dispatcher.notifySocket = notify;
    } else if (!takeChannel(dispatcher, readyFd)) {
        setLastError(kErrorFailedServiceControllerConnect);
        return kErrorFailedServiceControllerConnect;
    }
    {
        std::lock_guard<std::mutex> hold(g_dispatcherLock);
        if (g_dispatcher) {
            setLastError(kErrorServiceAlreadyRunning);
            return kErrorServiceAlreadyRunning;
        }
        g_dispatcher = &dispatcher;
    }
    if (::pipe2(dispatcher.wake, O_CLOEXEC) != 0) {
        std::lock_guard<std::mutex> hold(g_dispatcherLock);
        g_dispatcher = nullptr;
        return setLastErrorFromErrno(errno);
    }
    dispatcher.startTime = detail::processStartTime(static_cast<uint32_t>(::getpid()));
    std::vector<std::u16string> arguments = startArguments(dispatcher.name);
    for (const char* variable : {detail::kServiceChannelVariable, detail::kServiceNameVariable,
                                 detail::kServiceArgumentsVariable, "NOTIFY_SOCKET"}) {
        ::unsetenv(variable);
    }

    // Under systemd SIGTERM is the stop control; it is taken synchronously
    // here, never in a signal handler.
    sigset_t terms;
    sigemptyset(&terms);
    sigaddset(&terms, SIGTERM);
    if (dispatcher.systemd) ::pthread_sigmask(SIG_BLOCK, &terms, nullptr);

    if (readyFd >= 0) {
        char connected = 'C';
        (void)::write(readyFd, &connected, 1);
        ::close(readyFd);
    }

    std::thread mainThread([&dispatcher, arguments, serviceMain]() {
        serviceMain(arguments);
        std::lock_guard<std::mutex> hold(dispatcher.lock);
        dispatcher.mainReturned = true;
        dispatcher.mainDone.notify_all();
        char byte = 1;
        (void)!::write(dispatcher.wake[1], &byte, 1);
    });

    auto mainEnded = [&dispatcher] {
        std::lock_guard<std::mutex> hold(dispatcher.lock);
        return dispatcher.mainReturned;
    };
    while (!isStopped(dispatcher) && !mainEnded()) {
        if (dispatcher.systemd) {
            timespec wait{0, 200 * 1000 * 1000};
            siginfo_t info;
            int sig = ::sigtimedwait(&terms, &info, &wait);
            if (sig == SIGTERM) (void)deliver(dispatcher, kServiceControlStop, 0);
            continue;
        }
        pollfd entries[2] = {{dispatcher.listener, POLLIN, 0}, {dispatcher.wake[0], POLLIN, 0}};
        int ready = ::poll(entries, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (entries[0].revents & POLLIN) {
            int connection = ::accept4(dispatcher.listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                answer(dispatcher, connection);
                ::close(connection);
            }
        }
    }

    if (!isStopped(dispatcher)) {
        // The service's entry returned without reporting stopped: it can
        // take no more controls, so the manager is told it stopped.
        ServiceStatusProcess ended;
        {
            std::lock_guard<std::mutex> hold(dispatcher.lock);
            ended = dispatcher.status;
            dispatcher.stopped = true;
        }
        ended.currentState = kServiceStopped;
        ended.controlsAccepted = 0;
        ended.checkPoint = 0;
        ended.waitHint = 0;
        if (ended.win32ExitCode == 0) ended.win32ExitCode = kErrorProcessAborted;
        if (!dispatcher.systemd) {
            detail::ServiceRuntimeRecord record;
            record.status = ended;
            record.processStartTime = dispatcher.startTime;
            (void)detail::writeServiceRuntime(dispatcher.name, record);
        }
    }
    if (dispatcher.listener >= 0) {
        removeOwnSocket(dispatcher);
        ::close(dispatcher.listener);
    }
    {
        std::unique_lock<std::mutex> hold(dispatcher.lock);
        dispatcher.mainDone.wait_for(hold, kServiceMainGrace,
                                     [&] { return dispatcher.mainReturned; });
    }
    bool returned;
    {
        std::lock_guard<std::mutex> hold(dispatcher.lock);
        returned = dispatcher.mainReturned;
    }
    std::lock_guard<std::mutex> hold(g_dispatcherLock);
    g_dispatcher = nullptr;
    if (returned) {
        mainThread.join();
        ::close(dispatcher.wake[0]);
        ::close(dispatcher.wake[1]);
    } else {
        // The service's own work did not wind down; the process's end takes
        // it, so its thread and the dispatcher it uses are left to that.
        mainThread.detach();
        g_abandoned = owned.release();
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t ServiceStatusHandle::registerControlHandler(std::u16string_view serviceName,
                                                     ServiceControlHandler handler,
                                                     ServiceStatusHandle& out) {
    std::lock_guard<std::mutex> hold(g_dispatcherLock);
    if (!g_dispatcher) {
        setLastError(kErrorFailedServiceControllerConnect);
        return kErrorFailedServiceControllerConnect;
    }
    if (!equalsIgnoreCase(serviceName, g_dispatcher->name)) {
        setLastError(kErrorServiceDoesNotExist);
        return kErrorServiceDoesNotExist;
    }
    {
        std::lock_guard<std::mutex> inner(g_dispatcher->lock);
        g_dispatcher->handler = std::move(handler);
        g_dispatcher->handlerRegistered = true;
    }
    out.m_serviceName = g_dispatcher->name;
    out.m_registered = true;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t ServiceStatusHandle::setStatus(const ServiceStatusProcess& status) const {
    std::lock_guard<std::mutex> hold(g_dispatcherLock);
    if (!m_registered || !g_dispatcher || !equalsIgnoreCase(m_serviceName, g_dispatcher->name)) {
        setLastError(kErrorInvalidHandle);
        return kErrorInvalidHandle;
    }
    Dispatcher& dispatcher = *g_dispatcher;
    ServiceStatusProcess published = status;
    published.processId = static_cast<uint32_t>(::getpid());
    {
        std::lock_guard<std::mutex> inner(dispatcher.lock);
        dispatcher.status = published;
        if (published.currentState == kServiceStopped) dispatcher.stopped = true;
    }
    if (dispatcher.systemd) {
        std::string message = std::string("STATUS=") + stateName(published.currentState) + "\n";
        if (published.currentState == kServiceRunning) message += "READY=1\n";
        if (published.currentState == kServiceStopPending ||
            published.currentState == kServiceStopped) {
            message += "STOPPING=1\n";
        }
        message += "MAINPID=" + std::to_string(::getpid()) + "\n";
        notifySystemd(dispatcher.notifySocket, message);
    } else {
        detail::ServiceRuntimeRecord record;
        record.status = published;
        record.processStartTime = dispatcher.startTime;
        if (!detail::writeServiceRuntime(dispatcher.name, record)) {
            setLastError(kErrorAccessDenied);
            return kErrorAccessDenied;
        }
    }
    if (published.currentState == kServiceStopped) {
        char byte = 1;
        (void)::write(dispatcher.wake[1], &byte, 1);
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
