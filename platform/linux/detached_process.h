// Starting a program that outlives its starter: its own session, standard
// streams on /dev/null, reparented away from the caller at once (two forks),
// so it is never a zombie of the caller and no terminal signal reaches it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform::detail {

struct DetachedLaunch {
    std::string program;            // absolute host path
    std::vector<std::string> argv;  // argv[0] included
    std::vector<std::string> env;   // "NAME=value"; the whole environment
    std::string workingDirectory = "/";
    std::vector<int> passDescriptors;  // become descriptors 3, 4, ... in the program
    bool waitForGo = false;            // the program waits for one byte on goFd before exec
};

// 0 with pid the program's process id; goFd (when waitForGo) is the write
// end the caller writes one byte into (or closes, to cancel) once it is
// ready. Errors are Windows codes (2 when the program does not exist).
[[nodiscard]] uint32_t launchDetached(const DetachedLaunch& launch, uint32_t& pid, int& goFd);

// The environment a started service or helper gets: a fixed PATH, the
// locale and time zone, and this system's own ORVANE_* variables (where the
// registry, the runtime folder and the event log are), plus the sanitizer
// options of a test build.
std::vector<std::string> cleanEnvironment();

}  // namespace platform::detail
