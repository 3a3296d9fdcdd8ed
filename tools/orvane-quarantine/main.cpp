// orvane-quarantine: list, add, restore and delete quarantine records from a
// terminal, as the Scan Results and Threat Management dialogs do.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/results/quarantine.h"
#include "app/results/record_header.h"
#include "app/results/registry_place.h"
#include "app/results/report_text.h"
#include "app/results/results_list.h"
#include "app/results/threat_management.h"
#include "app/scan/report_log.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tools/orvane-scan/json_text.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitNothing = 1;
constexpr int kExitError = 2;

const char kUsage[] =
    "Usage: orvane-quarantine list [--json]\n"
    "       orvane-quarantine add PATH [--location TEXT] [--type WORD]\n"
    "       orvane-quarantine add-report REPORT\n"
    "       orvane-quarantine restore all|MD5\n"
    "       orvane-quarantine delete all|MD5\n"
    "\n"
    "The quarantine of this installation (the folder infected beside the program\n"
    "folder). A record keeps a file's content under the MD5 of that content.\n"
    "\n"
    "  list        One line per record: record name, date (UTC), type, location,\n"
    "              original path, separated by tabs; --json for a JSON array.\n"
    "  add         Moves one file into quarantine as the results list does; a\n"
    "              registry location (HKEY_...\\key\\value) has its value removed.\n"
    "  add-report  Moves every finding of a scan report into quarantine.\n"
    "  restore     Puts records back at their paths (and their registry values);\n"
    "              a record that cannot be restored stays in quarantine.\n"
    "  delete      Removes records for good.\n"
    "\n"
    "Exit status: 0 done, 1 nothing matched, 2 error.\n";

void printError(const std::u16string& text) {
    std::fprintf(stderr, "orvane-quarantine: %s\n", platform::toUtf8(text).c_str());
}

// A path as given: Windows form ("C:\...") stays, anything else is a host path.
std::u16string windowsForm(const std::string& given) {
    if (given.size() >= 2 && given[1] == ':' &&
        ((given[0] >= 'A' && given[0] <= 'Z') || (given[0] >= 'a' && given[0] <= 'z')))
        return platform::toUtf16(given);
    std::string absolute = given;
    if (!given.empty() && given[0] != '/')
        absolute = platform::toHostPath(platform::currentDirectory()) + "/" + given;
    return platform::toWindowsPath(absolute);
}

std::string hostForm(const std::u16string& windows) {
    std::string host = platform::toHostPath(windows);
    return host.empty() ? platform::toUtf8(windows) : host;
}

// Moves to the program folder the registry names, or this program's own.
void enterProgramFolder() {
    (void)platform::setCurrentDirectory(platform::toUtf16(platform::programFolderHost()));
    SetWorkDirToProgramFolder();
}

bool matches(const QuarantineItem& item, const std::string& which) {
    if (which == "all") return true;
    std::u16string wanted = platform::toLower(platform::toUtf16(which));
    if (wanted.size() > 4 && wanted.substr(wanted.size() - 4) == u".ovm")
        wanted.resize(wanted.size() - 4);
    return platform::toLower(item.recordName) == wanted + u".ovm";
}

int listRecords(bool json) {
    std::vector<QuarantineItem> items = ListQuarantine(kQuarantineFolder);
    if (json) {
        std::string out = "[";
        for (size_t i = 0; i < items.size(); ++i) {
            const QuarantineItem& item = items[i];
            std::u16string path = item.originalPath.empty() ? item.item : item.originalPath;
            out += i ? "," : "";
            out += "{\"record\":" + JsonString(item.recordName) +
                   ",\"date\":" + JsonString(item.date) + ",\"type\":" + JsonString(item.type) +
                   ",\"location\":" + JsonString(item.location) +
                   ",\"path\":" + JsonString(platform::toUtf16(hostForm(path))) +
                   ",\"pathKnown\":" + (item.originalPath.empty() ? "false" : "true") + "}";
        }
        out += "]\n";
        std::fputs(out.c_str(), stdout);
    } else {
        for (const QuarantineItem& item : items) {
            std::u16string path = item.originalPath.empty() ? item.item : item.originalPath;
            std::printf("%s\t%s\t%s\t%s\t%s\n", platform::toUtf8(item.recordName).c_str(),
                        platform::toUtf8(item.date).c_str(), platform::toUtf8(item.type).c_str(),
                        platform::toUtf8(item.location).c_str(), hostForm(path).c_str());
        }
    }
    return items.empty() ? kExitNothing : kExitDone;
}

int addFile(const std::u16string& path, const std::u16string& location,
            const std::u16string& type) {
    std::u16string header = BuildRecordHeaderText(path, location, type);
    QuarantineOutcome outcome = QuarantineFile(kQuarantineFolder, path, header);
    if (location.size() > 2) OVDeleteRegKey(location.c_str());
    if (outcome.code == platform::kErrorFileNotFound ||
        outcome.code == platform::kErrorPathNotFound) {
        printError(u"no such file: " + platform::toUtf16(hostForm(path)));
        return kExitNothing;
    }
    if (outcome.code != platform::kErrorSuccess) {
        printError(platform::format16(u"cannot quarantine %s (error %d)",
                                      platform::toUtf16(hostForm(path)).c_str(),
                                      static_cast<int>(outcome.code)));
        return kExitError;
    }
    std::printf("%s %s -> %s\n",
                outcome.alreadyQuarantined ? "already in quarantine:" : "quarantined:",
                hostForm(path).c_str(), platform::toUtf8(outcome.recordName).c_str());
    return kExitDone;
}

int addReport(const std::u16string& report) {
    ResultsList list;
    if (!list.AddItemToResultToList(report)) {
        printError(u"cannot read the report " + platform::toUtf16(hostForm(report)));
        return kExitError;
    }
    if (list.rows().empty()) return kExitNothing;
    list.MoveAllObjectsInList();
    int status = kExitDone;
    for (size_t i = 0; i < list.rows().size(); ++i) {
        const std::u16string& path = list.rows()[i].finding.name;
        uint32_t code = list.lastCodes()[i];
        if (code == platform::kErrorSuccess) {
            std::printf("quarantined: %s\n", hostForm(path).c_str());
        } else {
            printError(platform::format16(u"cannot quarantine %s (error %d)",
                                          platform::toUtf16(hostForm(path)).c_str(),
                                          static_cast<int>(code)));
            status = kExitError;
        }
    }
    return status;
}

int restoreOrDelete(bool restore, const std::string& which) {
    std::vector<QuarantineItem> items = ListQuarantine(kQuarantineFolder);
    int matched = 0, failed = 0;
    for (const QuarantineItem& item : items) {
        if (!matches(item, which)) continue;
        ++matched;
        if (restore) {
            RestoreOutcome outcome = RestoreRecord(kQuarantineFolder, item.recordName);
            if (outcome.code != platform::kErrorSuccess) {
                printError(outcome.message + u" (stays in quarantine)");
                ++failed;
                continue;
            }
            if (outcome.location.size() > 3 && ParseLocationText(outcome.location) &&
                !OVRestoreRegKey(outcome.location.c_str(), outcome.target.c_str(), printError))
                ++failed;
            std::printf("restored: %s\n", hostForm(outcome.target).c_str());
        } else {
            uint32_t code = RemoveRecord(kQuarantineFolder, item.recordName);
            if (code != platform::kErrorSuccess) {
                printError(platform::format16(u"cannot delete %s (error %d)",
                                              item.recordName.c_str(), static_cast<int>(code)));
                ++failed;
                continue;
            }
            if (item.location.size() > 2) OVDeleteRegKey(item.location.c_str());
            std::printf("deleted: %s\n", platform::toUtf8(item.recordName).c_str());
        }
    }
    if (failed) return kExitError;
    return matched ? kExitDone : kExitNothing;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? kExitError : kExitDone;
    }
    const std::string command = args[0];
    auto usageError = [](const char* text) {
        std::fprintf(stderr, "orvane-quarantine: %s\nTry 'orvane-quarantine --help'.\n", text);
        return kExitError;
    };

    // Paths given relative to where the user stands are resolved before the move.
    std::u16string path;
    std::u16string location, type = u"Malware";
    if (command == "add" || command == "add-report") {
        if (args.size() < 2) return usageError("a PATH is needed");
        path = windowsForm(args[1]);
        for (size_t i = 2; i < args.size(); ++i) {
            if (command == "add" && args[i] == "--location" && i + 1 < args.size()) {
                location = platform::toUtf16(args[++i]);
            } else if (command == "add" && args[i] == "--type" && i + 1 < args.size()) {
                type = platform::toUtf16(args[++i]);
            } else {
                return usageError("unknown option");
            }
        }
    }
    enterProgramFolder();

    if (command == "list") {
        if (args.size() > 2 || (args.size() == 2 && args[1] != "--json"))
            return usageError("list takes only --json");
        return listRecords(args.size() == 2);
    }
    if (command == "add") return addFile(path, location, type);
    if (command == "add-report") return addReport(path);
    if (command == "restore" || command == "delete") {
        if (args.size() != 2) return usageError("give all or the MD5 of a record");
        return restoreOrDelete(command == "restore", args[1]);
    }
    return usageError("unknown command");
}
