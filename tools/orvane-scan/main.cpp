// orvane-scan: scans files, folders, drives or the system's usual hiding
// places with the Orvane engine, from a terminal or a script.
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/scan/report_log.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/scan_request.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/privilege.h"
#include "platform/registry.h"
#include "platform/stop_requests.h"
#include "platform/text.h"
#include "tools/orvane-scan/json_text.h"
#include "tools/orvane-scan/options.h"
#include "tools/orvane-scan/quarantine_findings.h"
#include "tools/orvane-scan/scan_session.h"
#include "tools/orvane-scan/terminal_text.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitFound = 1;
constexpr int kExitFailed = 2;
constexpr size_t kRequestPathUnits = 512;

// One scan to run: what goes into the request, and what the user named.
struct ScanJob {
    int32_t scanType = names::kScanTypeThreat;
    const char16_t* typeText = names::kScanTypeTextThreat;
    std::u16string drives;  // full scan
    std::u16string file;    // custom scan of a file
    std::u16string folder;  // custom scan of a folder
    std::u16string target;  // shown in the JSON output
    std::string problem;    // set when the job cannot run
};

// Messages name paths the user gave or the scan met: shown escaped.
void PrintError(const std::string& text) {
    std::fprintf(stderr, "orvane-scan: %s\n", TerminalText(platform::toUtf16(text)).c_str());
}

// The engine takes its whole setup (install folder, extension filter,
// archives, ...) from the registry. A file that exists but cannot be read
// would have it scan with a setup nobody chose, so the scan does not start;
// a missing file is said and the defaults are used.
bool RegistryReadable() {
    platform::RegKey key;
    const uint32_t status =
        platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key);
    if (status == 0) return true;
    if (status == 2) {
        if (platform::checkRegistryIntegrity() == 2) {
            std::fprintf(stderr,
                         "orvane-scan: the registry file %s does not exist; the default settings "
                         "are used\n",
                         platform::registryFilePath().c_str());
        }
        return true;
    }
    PrintError(
        "cannot read the registry file " + platform::registryFilePath() +
        (status == 5 ? std::string(": access denied") : " (error " + std::to_string(status) + ")") +
        "; the scan does not start");
    return false;
}

bool LooksLikeWindowsPath(const std::string& path) {
    return (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
            path[1] == ':') ||
           path.rfind("\\\\", 0) == 0;
}

// A host or Windows-form path, made absolute (against the current folder)
// before the scan moves the working directory.
std::u16string EnginePath(const std::string& given) {
    if (LooksLikeWindowsPath(given)) return platform::toUtf16(given);
    return platform::toWindowsPath(given);
}

// Which scan a custom PATH asks for; sets job.problem when it cannot run.
ScanJob CustomJob(const std::string& given, ScanOptions::Mode mode) {
    ScanJob job;
    job.scanType = names::kScanTypeCustom;
    job.typeText = names::kScanTypeTextCustom;
    std::u16string path = EnginePath(given);
    job.target = path.empty() ? platform::toUtf16(given) : path;
    if (path.empty()) {
        job.problem = given + ": no drive holds this path";
        return job;
    }
    uint32_t attributes = platform::getFileAttributes(path);
    if (attributes == platform::kInvalidAttributes) {
        job.problem = given + ": no such file or folder";
        return job;
    }
    const bool folder = (attributes & platform::kAttrDirectory) != 0;
    if (mode == ScanOptions::Mode::File && folder) {
        job.problem = given + ": is a folder (use --folder)";
        return job;
    }
    if (mode == ScanOptions::Mode::Folder && !folder) {
        job.problem = given + ": is not a folder (use --file)";
        return job;
    }
    if (path.size() >= kRequestPathUnits) {
        job.problem = given + ": the path is longer than the engine takes (511 characters)";
        return job;
    }
    (folder ? job.folder : job.file) = path;
    return job;
}

std::vector<ScanJob> PlanJobs(const ScanOptions& options) {
    std::vector<ScanJob> jobs;
    switch (options.mode) {
        case ScanOptions::Mode::Threat:
            jobs.emplace_back();
            jobs.back().target = u"";
            break;
        case ScanOptions::Mode::Full: {
            ScanJob job;
            job.scanType = names::kScanTypeFull;
            job.typeText = names::kScanTypeTextFull;
            if (!ParseDriveList(options.drives, job.drives))
                job.problem =
                    "bad drive list \"" + options.drives + "\" (expected e.g. C: or C:,D:)";
            else if (job.drives.size() >= kRequestPathUnits)
                job.problem = "too many drives";
            for (size_t i = 0; job.problem.empty() && i < job.drives.size(); i += 3) {
                if (platform::driveRoot(job.drives[i]).empty())
                    job.problem = "drive " + platform::toUtf8(job.drives.substr(i, 2)) +
                                  " is not mapped on this system";
            }
            job.target = job.drives;
            jobs.push_back(job);
            break;
        }
        default:
            for (const std::string& path : options.paths)
                jobs.push_back(CustomJob(path, options.mode));
            break;
    }
    return jobs;
}

std::string HostForm(const std::u16string& windowsPath) {
    std::string host = platform::toHostPath(windowsPath);
    return host.empty() ? platform::toUtf8(windowsPath) : host;
}

void PrintJson(const ScanJob& job, const ScanOutcome& outcome, int exitCode,
               const std::string& error) {
    std::string out = "{\"scanType\":" + JsonString(job.typeText);
    out += ",\"target\":" + JsonString(job.target);
    out += ",\"objects\":" + std::to_string(outcome.objects);
    out += ",\"infected\":" + std::to_string(outcome.infected);
    out += ",\"hiddenProcesses\":" + std::to_string(outcome.hiddenProcesses);
    out += ",\"findings\":[";
    for (size_t i = 0; i < outcome.findings.size(); ++i) {
        const Finding& f = outcome.findings[i];
        if (i) out += ",";
        std::string host = platform::toHostPath(f.path);
        out += "{\"path\":" + JsonString(f.path);
        out += ",\"hostPath\":" +
               (host.empty() ? std::string("null") : JsonString(platform::toUtf16(host)));
        out += ",\"type\":" + JsonString(f.type);
        out += ",\"location\":" + (f.hasLocation ? JsonString(f.location) : std::string("null"));
        out += "}";
    }
    out += "],\"report\":";
    out += outcome.reportPath.empty() ? std::string("null")
                                      : JsonString(platform::toUtf16(HostForm(outcome.reportPath)));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", outcome.seconds);
    out += ",\"seconds\":" + std::string(seconds);
    out += ",\"exitCode\":" + std::to_string(exitCode);
    out += ",\"error\":" +
           (error.empty() ? std::string("null") : JsonString(platform::toUtf16(error)));
    out += "}\n";
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    ScanOptions options;
    std::string error;
    if (!ParseScanOptions(argc, argv, options, error)) {
        PrintError(error);
        std::fputs("Try 'orvane-scan --help'.\n", stderr);
        return kExitFailed;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitClean;
    }
    // The engine scans only with the administrator's privileges; say so, and
    // how, rather than let every scan fail with the engine's refusal.
    for (const char16_t* privilege :
         {u"SeBackupPrivilege", u"SeDebugPrivilege", u"SeShutdownPrivilege", u"SeSecurityPrivilege",
          u"SeLoadDriverPrivilege"}) {
        if (platform::enablePrivilege(privilege) == 0) continue;
        std::string command = "sudo orvane-scan";
        for (int i = 1; i < argc; ++i)
            command += std::strpbrk(argv[i], " \t'\"$") ? " '" + std::string(argv[i]) + "'"
                                                        : " " + std::string(argv[i]);
        PrintError("a scan needs root (administrator) rights; run it as: " + command);
        return kExitFailed;
    }

    if (!RegistryReadable()) return kExitFailed;

    // Report logs go only into the installation's own logs folder.
    if (ReportLogsFolder().empty()) {
        PrintError(
            "no installation: the registry value Path (HKLM\\SOFTWARE\\Orvane\\Wardline) "
            "names no program folder with a logs folder beside it, so the report log cannot be "
            "written and the scan does not start (run orvane-setup)");
        return kExitFailed;
    }

    // Ctrl+C or SIGTERM stops the scan as the application's stop does: the
    // archiver is killed and its folder removed before the program ends.
    std::atomic<FnStopOV> stopScan{nullptr};
    platform::StopRequests stopRequests([&stopScan](int) {
        if (FnStopOV stop = stopScan.load()) stop();
    });

    // Every path is resolved before the engine moves the working directory.
    std::vector<ScanJob> jobs = PlanJobs(options);

    const std::string libraryPath = platform::programFolderHost() + "/libov_core.so";
    platform::Library engine;
    std::string loadError;
    FnStartOVScan start = nullptr;
    if (platform::Library::load(libraryPath, engine, &loadError) == 0)
        start = reinterpret_cast<FnStartOVScan>(engine.symbol("fnStartOVScan"));
    else
        loadError = "cannot load the engine: " + loadError;
    if (engine.isLoaded() && !start) loadError = "the engine has no fnStartOVScan: " + libraryPath;
    if (start) stopScan = reinterpret_cast<FnStopOV>(engine.symbol("fnStopOV"));

    SessionOutput output;
    output.progress =
        !options.quiet && !options.json && platform::isTerminal(platform::StandardStream::Error);
    output.findings = !options.json;

    bool anyFound = false;
    bool anyFailed = false;
    std::u16string lastReportName;
    for (const ScanJob& job : jobs) {
        if (stopRequests.received() != 0) break;
        // A report log is named after the second its scan starts in; a scan
        // of the next PATH waits for a new second rather than replace it.
        while (!lastReportName.empty() && ReportLogFileName(CurrentUtcTime()) == lastReportName)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ScanOutcome outcome;
        std::string problem = job.problem;
        if (problem.empty() && !start) problem = loadError;
        int exitCode = kExitClean;
        if (problem.empty()) {
            static ScanRequest request;  // the engine keeps a pointer to it during the scan
            std::memset(&request, 0, sizeof request);
            request.scanType = job.scanType;
            platform::copy16(request.scanPaths, kRequestPathUnits, job.drives);
            platform::copy16(request.customFile, kRequestPathUnits, job.file);
            platform::copy16(request.customFolder, kRequestPathUnits, job.folder);
            outcome = RunScan(start, request, job.typeText, job.drives, output);
            if (!outcome.reportPath.empty())
                lastReportName = platform::baseName(outcome.reportPath);
            if (!outcome.refused.empty()) {
                problem = outcome.refused;
            } else if (!outcome.ran) {
                problem = outcome.setupText.empty() ? std::string("the scan could not start")
                                                    : platform::toUtf8(outcome.setupText);
            }
        }
        if (!problem.empty()) {
            exitCode = kExitFailed;
            anyFailed = true;
            PrintError(problem);
        } else if (outcome.infected > 0 || !outcome.findings.empty()) {
            exitCode = kExitFound;
            anyFound = true;
        }

        if (options.json) {
            PrintJson(job, outcome, exitCode, problem);
        } else if (!options.quiet && exitCode != kExitFailed) {
            std::printf("Scan Finished!, %d Object Scanned, %d Infected Found.\n", outcome.objects,
                        outcome.infected);
            if (!outcome.reportPath.empty())
                std::printf("Report: %s\n",
                            TerminalText(platform::toUtf16(HostForm(outcome.reportPath))).c_str());
            else
                std::printf("Report: not written (the logs folder could not be used)\n");
            std::fflush(stdout);
        }
        if (options.quarantine && exitCode == kExitFound && !outcome.reportPath.empty() &&
            QuarantineReportFindings(outcome.reportPath, !options.json && !options.quiet) != 0)
            anyFailed = true;
    }
    if (const int signal = stopRequests.received(); signal != 0) {
        PrintError("stopped by signal " + std::to_string(signal));
        return 128 + signal;
    }
    if (anyFound) return kExitFound;
    if (anyFailed) return kExitFailed;
    return kExitClean;
}
