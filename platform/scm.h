// The service control manager.
//
// Service records live in the registry under
// HKLM\SYSTEM\CurrentControlSet\Services\<name> as on Windows: ImagePath
// (REG_EXPAND_SZ or REG_SZ command line), Type, Start, ErrorControl, Tag
// (REG_DWORD), DisplayName, ObjectName, Group (REG_SZ), DependOnService
// (REG_MULTI_SZ). A key without a Type value is not a service.
//
// The enumeration also lists this host's systemd service units, read-only,
// so that whoever checks "every service of this machine" checks the programs
// it really starts: each unit file "<name>.service" under
// $ORVANE_SYSTEMD_UNIT_PATH (folders separated by ':'; set and empty means
// none), else /etc/systemd/system, /run/systemd/system,
// /usr/local/lib/systemd/system, /lib/systemd/system and
// /usr/lib/systemd/system (earlier folders win, as systemd has it). Such a
// service is named by its unit name ("ssh.service"); its image path is the
// program of its ExecStart (drop-ins included) in Windows form, without
// arguments; its type is own-process; it starts automatically when a
// *.wants or *.requires folder links it, is disabled when masked, else
// starts on demand; it reads as running while systemd keeps an invocation
// of it. Aliases and templates ("x@.service") are not listed.
//
// Results are Windows error codes: 0 success, 5 access denied, 6 invalid
// handle, 13 a record that cannot be read, 122 buffer too small (with the
// size needed), 234 more entries than the buffer holds (with the size
// needed), 1060 no such service, 1073 the service exists. Every call also
// sets the thread's last error.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Service types.
inline constexpr uint32_t kServiceKernelDriver = 0x1;
inline constexpr uint32_t kServiceFileSystemDriver = 0x2;
inline constexpr uint32_t kServiceDriver = 0xB;
inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr uint32_t kServiceWin32ShareProcess = 0x20;
inline constexpr uint32_t kServiceWin32 = 0x30;

// Start types.
inline constexpr uint32_t kServiceBootStart = 0;
inline constexpr uint32_t kServiceSystemStart = 1;
inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceDisabled = 4;

// Error control.
inline constexpr uint32_t kServiceErrorIgnore = 0;
inline constexpr uint32_t kServiceErrorNormal = 1;
inline constexpr uint32_t kServiceErrorSevere = 2;
inline constexpr uint32_t kServiceErrorCritical = 3;

// Current states.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServiceContinuePending = 5;
inline constexpr uint32_t kServicePausePending = 6;
inline constexpr uint32_t kServicePaused = 7;

// State filter of an enumeration.
inline constexpr uint32_t kServiceActive = 1;    // every state but stopped
inline constexpr uint32_t kServiceInactive = 2;  // stopped
inline constexpr uint32_t kServiceStateAll = 3;

// Controls, and the bits saying which a service accepts.
inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kServiceControlPause = 2;
inline constexpr uint32_t kServiceControlContinue = 3;
inline constexpr uint32_t kServiceControlInterrogate = 4;
inline constexpr uint32_t kServiceControlShutdown = 5;
inline constexpr uint32_t kServiceAcceptStop = 0x1;
inline constexpr uint32_t kServiceAcceptPauseContinue = 0x2;
inline constexpr uint32_t kServiceAcceptShutdown = 0x4;

// Access rights of the manager.
inline constexpr uint32_t kScManagerConnect = 0x1;
inline constexpr uint32_t kScManagerCreateService = 0x2;
inline constexpr uint32_t kScManagerEnumerateService = 0x4;
inline constexpr uint32_t kScManagerLock = 0x8;
inline constexpr uint32_t kScManagerQueryLockStatus = 0x10;
inline constexpr uint32_t kScManagerModifyBootConfig = 0x20;
inline constexpr uint32_t kScManagerAllAccess = 0xF003F;

// Access rights of a service.
inline constexpr uint32_t kServiceQueryConfig = 0x1;
inline constexpr uint32_t kServiceChangeConfig = 0x2;
inline constexpr uint32_t kServiceQueryStatus = 0x4;
inline constexpr uint32_t kServiceEnumerateDependents = 0x8;
inline constexpr uint32_t kServiceStart = 0x10;
inline constexpr uint32_t kServiceStop = 0x20;
inline constexpr uint32_t kServicePauseContinue = 0x40;
inline constexpr uint32_t kServiceInterrogate = 0x80;
inline constexpr uint32_t kServiceUserDefinedControl = 0x100;
inline constexpr uint32_t kServiceDelete = 0x10000;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;

// SERVICE_STATUS_PROCESS.
struct ServiceStatusProcess {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
    uint32_t processId = 0;
    uint32_t serviceFlags = 0;
};

// One entry of an enumeration as it lies in the caller's buffer: the records
// first, their strings behind them, all inside the buffer.
struct EnumServiceStatusProcess {
    const char16_t* serviceName;
    const char16_t* displayName;
    ServiceStatusProcess status;
};

// A service's configuration as it lies in the caller's buffer: this record
// first, its strings behind it. Strings are never null (empty when unset);
// dependencies is a list of names each ending in a zero, closed by one more.
struct ServiceConfig {
    uint32_t serviceType;
    uint32_t startType;
    uint32_t errorControl;
    const char16_t* binaryPathName;
    const char16_t* loadOrderGroup;
    uint32_t tagId;
    const char16_t* dependencies;
    const char16_t* serviceStartName;
    const char16_t* displayName;
};

// What a new service is created with (and a copy of a record).
struct ServiceDescription {
    std::u16string name;
    std::u16string displayName;  // empty = the name
    std::u16string binaryPath;   // command line, stored as given (not quoted)
    uint32_t serviceType = kServiceWin32OwnProcess;
    uint32_t startType = kServiceDemandStart;
    uint32_t errorControl = kServiceErrorNormal;
    std::u16string loadOrderGroup;
    std::vector<std::u16string> dependencies;
    std::u16string startName;  // account; empty = LocalSystem
};

// A service as the convenience enumeration gives it.
struct ServiceEntry {
    std::u16string name;
    std::u16string displayName;
    ServiceStatusProcess status;
};

class Service;

// An open connection to the manager. Move-only.
class ServiceManager {
public:
    ServiceManager() = default;
    ServiceManager(ServiceManager&&) noexcept = default;
    ServiceManager& operator=(ServiceManager&&) noexcept = default;
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // OpenSCManager on this machine. Rights beyond connecting, enumerating
    // and querying the lock (creating services, locking, boot configuration;
    // kScManagerAllAccess among them) need an administrator (root): 5
    // otherwise. The registry error when the registry cannot be opened.
    [[nodiscard]] static uint32_t open(uint32_t access, ServiceManager& out);

    bool isOpen() const { return m_open; }
    void close() { m_open = false; }
    uint32_t access() const { return m_access; }

    // EnumServicesStatusEx with process information: every service whose
    // type has a bit of serviceType and whose state passes serviceState,
    // sorted by name (registry services, then systemd units). Fills buffer
    // with as many entries as fit, starting at *resumeHandle (0 when null);
    // 0 when all were returned, else 234 with bytesNeeded the room the rest
    // needs and *resumeHandle the next entry. buffer may be null with size 0
    // to ask for the room. 5 without kScManagerEnumerateService.
    [[nodiscard]] uint32_t enumServices(uint32_t serviceType, uint32_t serviceState, void* buffer,
                                        uint32_t bufferSize, uint32_t& bytesNeeded,
                                        uint32_t& servicesReturned, uint32_t* resumeHandle) const;

    // The same list as plain values.
    [[nodiscard]] uint32_t listServices(uint32_t serviceType, uint32_t serviceState,
                                        std::vector<ServiceEntry>& out) const;

    // CreateService: writes the registry record and opens it. 1073 when a
    // service of that name exists, 5 without kScManagerCreateService, 87 for
    // an empty name or one with a backslash or slash.
    [[nodiscard]] uint32_t createService(const ServiceDescription& description, uint32_t access,
                                         Service& out) const;

private:
    uint32_t m_access = 0;
    bool m_open = false;
};

// An open service. Move-only.
class Service {
public:
    Service() = default;
    Service(Service&&) noexcept = default;
    Service& operator=(Service&&) noexcept = default;
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // OpenService. 1060 when there is no such service; 5 when a systemd
    // unit is asked for any right that would change it (they are read-only
    // here); 6 when the manager is not open.
    [[nodiscard]] static uint32_t open(const ServiceManager& manager, std::u16string_view name,
                                       uint32_t access, Service& out);

    bool isOpen() const { return m_open; }
    void close() { m_open = false; }
    const std::u16string& name() const { return m_name; }
    bool isSystemdUnit() const { return m_systemdUnit; }

    // QueryServiceConfig into the caller's buffer (config may be null with
    // size 0). 0 when it fits; 122 with bytesNeeded when it does not (the
    // buffer is left alone); 13 when the record cannot be read (a value of
    // the wrong type); 1060 when the service is gone since it was opened;
    // 5 without kServiceQueryConfig.
    [[nodiscard]] uint32_t queryConfig(ServiceConfig* config, uint32_t bufferSize,
                                       uint32_t& bytesNeeded) const;

    // The configuration as plain values; same results.
    [[nodiscard]] uint32_t queryDescription(ServiceDescription& out) const;

    // DeleteService: removes the registry record. 5 for a systemd unit or
    // without kServiceDelete.
    [[nodiscard]] uint32_t deleteService() const;

    // ---- Running services. The built-in backend starts a service detached
    // (its own session, standard streams on /dev/null, a clean environment)
    // and hands it a private control socket in the runtime folder; the
    // status the service reports is kept there with its process id and the
    // process's start time, so a service process that died (or whose id was
    // reused) reads as stopped. A service created with AUTO_START (2) while
    // systemd is the init system is also a unit "<name>.service" (lower case,
    // blanks as '-'; Type=notify) enabled for boot, and is started, stopped
    // and queried through systemd.

    // QueryServiceStatusEx (process information). 5 without
    // kServiceQueryStatus.
    [[nodiscard]] uint32_t queryStatus(ServiceStatusProcess& out) const;
    // StartService: starts the record's image path (a Windows-form command
    // line; a quoted program path, or the whole text when it names a file,
    // else the text up to the first blank) and returns once the service's
    // dispatcher has taken its control channel. arguments reach the
    // service's entry behind the service name. 1056 when running, 1058 when
    // disabled, 2/3 when the program is missing, 1053 when the program ended
    // or did not reach its dispatcher within 30 s, 5 without kServiceStart.
    [[nodiscard]] uint32_t start(const std::vector<std::u16string>& arguments) const;
    // ControlService: delivers the control to the service's handler and
    // returns the status after it (the handler's result when it is not 0).
    // Stop (1) and shutdown (5) need kServiceStop and a service that accepts
    // stop; interrogate (4) always reaches it; 128..255 need
    // kServiceUserDefinedControl. 1062 when not running, 1061 when the
    // control is not accepted now, 87 for another code.
    [[nodiscard]] uint32_t control(uint32_t controlCode, ServiceStatusProcess& status) const;

private:
    std::u16string m_name;
    uint32_t m_access = 0;
    bool m_open = false;
    bool m_systemdUnit = false;
};

// Whether systemd is this machine's init system: an AUTO_START service
// created now is then also a unit enabled for boot.
bool systemdIsInitSystem();

// ---- The service program's side. Started by the built-in backend, the
// dispatcher takes the control channel its starter handed over; started by
// systemd (NOTIFY_SOCKET set), it speaks the notify protocol (READY=1 at
// running, STOPPING=1 at stop pending or stopped, STATUS= always) and takes
// SIGTERM as the stop control.

// The service's entry, run on a thread of the dispatcher with the start
// arguments (the first is the service name).
using ServiceMainFunction = std::function<void(const std::vector<std::u16string>& arguments)>;
// The control handler: control code and event type; its result is returned
// to the one who sent the control.
using ServiceControlHandler = std::function<uint32_t(uint32_t control, uint32_t eventType)>;

// StartServiceCtrlDispatcher for one service: runs serviceMain on a thread
// of its own, delivers controls to the registered handler on the calling
// thread, and returns 0 when the service has reported stopped (after giving
// serviceMain up to 5 s to return; a thread still running then is left to
// the process's end), or when serviceMain returned without reporting it
// (the service then reads as stopped with exit code 1067). 1063 when this process was not started by the
// manager (as from a console).
[[nodiscard]] uint32_t runServiceDispatcher(std::u16string_view serviceName,
                                            ServiceMainFunction serviceMain);

// RegisterServiceCtrlHandlerEx and SetServiceStatus. registerControlHandler
// gives 1063 outside a running dispatcher and 1060 for another service's
// name. setStatus publishes the status (the process id is filled in); a
// stopped state ends the dispatcher once the current control is answered.
class ServiceStatusHandle {
public:
    [[nodiscard]] static uint32_t registerControlHandler(std::u16string_view serviceName,
                                                         ServiceControlHandler handler,
                                                         ServiceStatusHandle& out);
    [[nodiscard]] uint32_t setStatus(const ServiceStatusProcess& status) const;

private:
    std::u16string m_serviceName;
    bool m_registered = false;
};

}  // namespace platform
