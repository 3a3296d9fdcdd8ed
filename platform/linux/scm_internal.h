// What the record half of the service manager (scm.cpp) and its running
// half (scm_running.cpp, scm_systemd.cpp) share.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/scm.h"

namespace platform::detail {

uint32_t readServiceRecord(std::u16string_view name, ServiceDescription& out);

// The systemd unit a record was made with (value "SystemdUnit"); 2 when none.
uint32_t readServiceUnitMarker(std::u16string_view name, std::string& unit);
uint32_t writeServiceUnitMarker(std::u16string_view name, const std::string& unit);

// The live status of a registry service (stopped when nothing runs).
ServiceStatusProcess liveServiceStatus(std::u16string_view name, uint32_t serviceType);

// systemd backend. The unit file goes to $ORVANE_SYSTEMD_UNIT_DIR, else
// /etc/systemd/system.
uint32_t installSystemdUnit(const ServiceDescription& description);
void removeSystemdUnit(const std::string& unit);
uint32_t startSystemdUnit(const std::string& unit);
uint32_t stopSystemdUnit(const std::string& unit);
ServiceStatusProcess systemdUnitStatus(const std::string& unit, uint32_t serviceType);

// The unit file's text for a service.
std::string systemdUnitText(const ServiceDescription& description);

// The program and its arguments of a Windows-form command line (host paths
// for the program); empty when the program cannot be named.
std::vector<std::string> splitImagePath(std::u16string_view imagePath);

}  // namespace platform::detail
