// ov_bench_panel [CHILDREN] [PASSES]: the live panel's process and module
// count (the ProcessCounter pass) on this machine as it is, then with
// CHILDREN (default 2000) sleeping child processes more. Prints the median,
// minimum and maximum of PASSES (default 15) passes in milliseconds, and the
// figures counted. Not a test: the machine's load moves the figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"

namespace {

struct Timing {
    double median = 0, minimum = 0, maximum = 0;
    platform::ProcessModuleCount count;
};

Timing timePasses(int passes) {
    std::vector<double> ms;
    Timing timing;
    for (int i = 0; i < passes; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!platform::countProcessesAndModules(timing.count)) {
            std::fprintf(stderr, "the process list cannot be read\n");
            std::exit(1);
        }
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    timing.median = ms[ms.size() / 2];
    timing.minimum = ms.front();
    timing.maximum = ms.back();
    return timing;
}

void row(const char* label, const Timing& t) {
    std::printf("%-28s %9.1f %9.1f-%-9.1f %9u %9llu\n", label, t.median, t.minimum, t.maximum,
                t.count.processes, static_cast<unsigned long long>(t.count.modules));
}

}  // namespace

int main(int argc, char** argv) {
    const int children = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int passes = std::max(1, argc > 2 ? std::atoi(argv[2]) : 15);
    std::printf("%-28s %9s %19s %9s %9s\n", "ProcessCounter pass", "median ms", "min-max ms",
                "processes", "modules");
    row("this machine", timePasses(passes));

    std::vector<platform::ChildProcess> sleepers;
    sleepers.reserve(static_cast<size_t>(children));
    platform::SpawnOptions options;
    options.newProcessGroup = false;
    for (int i = 0; i < children; ++i) {
        platform::ChildProcess child;
        if (platform::ChildProcess::spawn({"sleep", "600"}, options, child) != 0) {
            std::fprintf(stderr, "only %d children could be started\n", i);
            break;
        }
        sleepers.push_back(std::move(child));
    }
    const std::string label = "with " + std::to_string(sleepers.size()) + " sleeping children";
    row(label.c_str(), timePasses(passes));
    return 0;  // the children are killed and reaped with their owners
}
