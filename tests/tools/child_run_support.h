// The one way the tool tests run a program as a child process: arguments
// as given (no shell), standard input fed whole, standard output and error
// collected whole, and an overall deadline per call. A child still running
// at its deadline is killed with its process group, and the test fails
// with a message that names the program and the deadline.
#pragma once
#include <chrono>
#include <string>
#include <vector>

namespace tooltest {

// Long enough for a quiet run of a tool under the sanitizers on a loaded
// machine, well inside the per-test limit of ctest.
inline constexpr std::chrono::seconds kDefaultDeadline{120};

struct ChildCall {
    std::string program;  // an absolute path, or the name of a program in OV_BIN_DIR
    std::vector<std::string> args;
    std::string input;  // standard input, then end of file
    std::chrono::seconds deadline = kDefaultDeadline;
    // Standard input, output and error on one pseudo-terminal instead of
    // pipes: everything arrives in ChildResult::out, and the input is
    // typed in without an end of file.
    bool terminal = false;
};

struct ChildResult {
    int exitCode = -1;  // -1 when it did not exit by itself (a signal, or the deadline)
    std::string out;
    std::string err;
    bool deadlinePassed = false;
    // Why exitCode is -1 ("orvane-scan was still running at its deadline of
    // 240 s and was killed"); empty when it exited.
    std::string failure;
};

ChildResult runChild(const ChildCall& call);

}  // namespace tooltest
