// The process list's source, for tests; not part of the public API.
#pragma once
#include <string>

namespace platform::detail {

// While one lives, the process list, the modules and image of a process,
// the probe by identifier and the highest identifier are read from a folder
// laid out as /proc (<pid>/status, <pid>/exe, <pid>/maps,
// sys/kernel/pid_max) instead of the system's; the probe then asks that
// folder only, and no process can be ended.
class ScopedProcessRoot {
public:
    explicit ScopedProcessRoot(const std::string& hostFolder);
    ~ScopedProcessRoot();
    ScopedProcessRoot(const ScopedProcessRoot&) = delete;
    ScopedProcessRoot& operator=(const ScopedProcessRoot&) = delete;
};

}  // namespace platform::detail
