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

// Registers the service for the program in programFolder with the start
// type automatic, unless it is registered already (a registration the user
// changed is kept). Returns 0 or the manager's error code (5 without
// administrator rights); status says in words what was done. (The first
// start, as SvcInstall does it, needs the manager's start, which this build
// lacks.)
[[nodiscard]] uint32_t installService(const std::filesystem::path& programFolder,
                                      std::string& status);

// Removes the service's registration; a service that is not registered is
// not an error. Returns 0 or the manager's error code. (Stopping a running
// service first needs the manager's stop control, which this build lacks.)
[[nodiscard]] uint32_t removeService(std::string& status);

}  // namespace setup
