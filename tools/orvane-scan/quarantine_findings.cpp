#include "tools/orvane-scan/quarantine_findings.h"

#include <chrono>
#include <cstdio>

#include "platform/path.h"
#include "platform/process.h"

int QuarantineReportFindings(const std::u16string& reportPath, bool showOutput) {
    std::string tool = platform::programFolderHost() + "/orvane-quarantine";
    std::string report = platform::toHostPath(reportPath);
    platform::SpawnOptions options;
    options.discardOutput = !showOutput;
    platform::ChildProcess child;
    if (platform::ChildProcess::spawn({tool, "add-report", report}, options, child) != 0 ||
        child.wait(std::chrono::hours(24)) != 0) {
        std::fprintf(stderr, "orvane-scan: cannot run %s\n", tool.c_str());
        return 2;
    }
    return static_cast<int>(child.exitCode());
}
