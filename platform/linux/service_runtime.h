// What the built-in service manager keeps about a running service, in the
// runtime folder: "service.<name>.status" (the last status the service
// reported, with its process id and that process's start time) and
// "service.<name>.ctl" (its control socket). <name> is the service name in
// lower case with every byte outside [a-z0-9._-] written as %XX.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/scm.h"

namespace platform::detail {

struct ServiceRuntimeRecord {
    uint32_t magic = 0;
    uint32_t version = 0;
    ServiceStatusProcess status;
    uint64_t processStartTime = 0;  // clock ticks since boot, /proc/<pid>/stat field 22
};

inline constexpr uint32_t kServiceRuntimeMagic = 0x4F565352;  // "OVSR"
inline constexpr uint32_t kServiceRuntimeVersion = 1;

// "<runtime folder>/service.<escaped name>"; empty when the runtime folder
// cannot be used.
std::string serviceRuntimeBase(std::u16string_view serviceName);

// The named mutex the built-in manager holds while it starts the service.
inline std::u16string serviceStartMutexName(std::u16string_view serviceName) {
    return u"OrvaneServiceStart." + std::u16string(serviceName);
}

// false when there is no record (or it cannot be read).
bool readServiceRuntime(std::u16string_view serviceName, ServiceRuntimeRecord& out);
// Written whole through a temporary name and a rename.
bool writeServiceRuntime(std::u16string_view serviceName, const ServiceRuntimeRecord& record);

// The start time of a live process; 0 when pid names no process or a zombie.
uint64_t processStartTime(uint32_t pid);

// The control message on the socket: control and event type in; the
// handler's result and the status after it out.
struct ControlRequest {
    uint32_t control = 0;
    uint32_t eventType = 0;
};
struct ControlReply {
    uint32_t result = 0;
    ServiceStatusProcess status;
};

// Environment names that hand the control channel to a started service.
inline constexpr char kServiceNameVariable[] = "ORVANE_SERVICE_NAME";
inline constexpr char kServiceArgumentsVariable[] = "ORVANE_SERVICE_ARGS";  // separated by 0x1F
inline constexpr int kServiceControlDescriptor = 3;
inline constexpr int kServiceReadyDescriptor = 4;
inline constexpr char kServiceChannelVariable[] = "ORVANE_SERVICE_CHANNEL";  // "3:4"

// True while systemd is the init system (/run/systemd/system exists).
bool systemdRunning();
// The unit a service name maps to: lower case, blanks as '-', ".service".
std::string systemdUnitName(std::u16string_view serviceName);

}  // namespace platform::detail
