// The real-time protection service as a system install registers it with the
// service manager, and as an uninstall takes it away.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace setup {

// The service's name (and display name) and its program in the program
// folder.
inline constexpr char16_t kServiceName[] = u"Orvane Service";
inline constexpr char kServiceProgram[] = "ovrtsrv";

// Registers the service for the program in programFolder, started
// automatically with the system, unless it is registered already (a
// registration the user changed is kept). Returns 0 or the manager's error
// code (5 without administrator rights); status says in words what was done.
[[nodiscard]] uint32_t installService(const std::filesystem::path& programFolder,
                                      std::string& status);

// Stops the service and removes its registration; a service that is not
// registered is not an error. Returns 0 or the manager's error code.
[[nodiscard]] uint32_t removeService(std::string& status);

}  // namespace setup
