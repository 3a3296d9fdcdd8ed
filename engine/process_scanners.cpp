// Processes: the probe for processes the system's list leaves out, and the
// modules of every running process.
#include <string>
#include <unordered_set>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/threat_scan.h"
#include "platform/error.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

bool listHolds(const std::vector<platform::ProcessEntry>& list, uint32_t pid) {
    for (const platform::ProcessEntry& process : list) {
        if (process.pid == pid) return true;
    }
    return false;
}

// A process found by the probe but missing from the list may simply have
// started after the list was taken; it is hidden only if the system's list
// still leaves it out while it still opens.
bool stillHidden(uint32_t pid) {
    return !listHolds(threatScanHooks().hiddenProbeList(), pid) && platform::probeProcess(pid);
}

// The product's own program folder (the registry value Path) in the form
// module paths are listed in, with a final backslash; empty when unknown.
std::u16string OwnProgramFolder() {
    char16_t installPath[256] = {};
    uint32_t size = sizeof installPath;
    if (ReadMachineValue(names::kProductKey, names::kValuePath, installPath, &size) != 0) return {};
    installPath[255] = 0;
    std::u16string folder(installPath);
    if (folder.empty()) return {};
    // The folder as the system spells it, whichever form the value holds.
    const std::string host = platform::toHostPath(folder);
    if (!host.empty()) {
        const std::u16string listed = platform::toWindowsPath(host);
        if (!listed.empty()) folder = listed;
    }
    if (folder.back() != u'\\') folder.push_back(u'\\');
    return folder;
}

// Whether a module lies in the product's own program folder.
bool IsOwnModule(std::u16string_view module, std::u16string_view ownFolder) {
    return !ownFolder.empty() && module.size() > ownFolder.size() &&
           platform::equalsIgnoreCase(module.substr(0, ownFolder.size()), ownFolder);
}

}  // namespace

void ReportHiddenProcess(uint32_t pid) {
    std::u16string name = u"<unknown>";
    std::u16string line;
    std::vector<std::u16string> modules = platform::listModules(pid);
    std::u16string image;
    if (!modules.empty()) {
        name = platform::baseName(modules.front());
        line = platform::format16(u" Hidden process: %s\n", name.c_str());
    } else if (!(image = platform::processImagePath(pid)).empty()) {
        name = image;
        line = platform::format16(u" Hidden process: %s\n", name.c_str());
    } else {
        line = platform::format16(u" Hidden process: %s PID: %u\n", name.c_str(), pid);
    }
    SendOVMsg(SCANMSG_HIDDEN_PROCESS, u"%s", name.c_str());
    SendOVMsg(SCANMSG_REPORT_LINE, u"%s", line.c_str());
}

int32_t DoScanHiddenProcess() {
    // Runs to its end whatever the run flag says.
    std::vector<platform::ProcessEntry> list = threatScanHooks().hiddenProbeList();
    if (list.empty()) {
        SendOVMsg(SCANMSG_DEBUG, u" DoScanHiddenProcess EnumProcesses Last Error: %d\n",
                  static_cast<int>(platform::lastError()));
        return 0;
    }
    // Each listed identifier matches once.
    std::unordered_set<uint32_t> unmatched;
    for (const platform::ProcessEntry& process : list) unmatched.insert(process.pid);
    uint32_t highest = threatScanHooks().highestProcessId;
    if (highest == 0) highest = platform::maxProcessId();
    for (uint32_t pid = 1; pid != 0 && pid <= highest; ++pid) {
        if (!platform::probeProcess(pid)) continue;
        if (unmatched.erase(pid) == 0 && stillHidden(pid)) ReportHiddenProcess(pid);
        SendOVMsg(SCANMSG_OBJECT_TICK, u"");
    }
    return 1;
}

int32_t DoScanRunningProcess() {
    if (RunFlag() != 1) return 0;
    std::vector<platform::ProcessEntry> processes = threatScanHooks().runningProcessList();
    int32_t seen = 0;
    const std::u16string ownFolder = OwnProgramFolder();
    for (const platform::ProcessEntry& process : processes) {
        if (RunFlag() != 1) break;
        ++seen;
        // A process whose modules cannot be read gives none.
        for (const std::u16string& module : platform::listModules(process.pid)) {
            // The product's own modules are not checked: those in its
            // program folder, not every file whose path holds its name.
            if (IsOwnModule(module, ownFolder)) continue;
            std::u16string path = module;
            __ScanFile(path.data(), nullptr);
        }
    }
    return seen;
}
