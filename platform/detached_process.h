// Programs started to outlive their starter: never waited for, never left
// behind as a zombie, in a session of their own (so a stop of the starter's
// terminal or process group does not reach them), standard streams on
// /dev/null. Started with an argument vector, never through a shell.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DetachedOptions {
    std::string workingDirectory;  // host path; empty = the caller's current directory
    // NAME=value entries; none = the caller's own environment.
    std::optional<std::vector<std::string>> environment;
};

// Starts argv[0] (an absolute host path, or a name looked up in PATH) with
// argv. 0 once the program runs (the program image was loaded), else the
// error of the step that failed: 2 when the program or the working folder is
// missing, 5 when it may not be run, 87 for an empty argv. *pid gets the
// started process's identifier when given.
[[nodiscard]] uint32_t startDetachedProcess(const std::vector<std::string>& argv,
                                            const DetachedOptions& options,
                                            uint32_t* pid = nullptr);

}  // namespace platform
