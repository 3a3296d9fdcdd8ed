// The event log: syslog (facility daemon). ReportEvent's record becomes one
// line "<source>: [<type>] <strings joined by ": ">" with the type's
// priority. When $ORVANE_EVENT_LOG names a file, the line is also appended
// there, so that a program's entries can be read without a syslog daemon.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr uint16_t kEventLogError = 0x1;
inline constexpr uint16_t kEventLogWarning = 0x2;
inline constexpr uint16_t kEventLogInformation = 0x4;

// RegisterEventSource + ReportEvent + DeregisterEventSource. 87 for an empty
// source; 0 otherwise (syslog itself reports nothing back).
[[nodiscard]] uint32_t reportEvent(std::u16string_view source, uint16_t type, uint16_t category,
                                   uint32_t eventId, const std::vector<std::u16string>& strings);

}  // namespace platform
