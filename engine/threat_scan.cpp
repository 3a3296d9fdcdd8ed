// The threat scan: the settings it copies into the request, then every
// system location in a fixed order, some only when their setting is on.
#include "engine/threat_scan.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"

namespace {

ThreatScanHooks& hooksInstance() {
    static ThreatScanHooks hooks;
    return hooks;
}

void installSystemHooks(ThreatScanHooks& hooks) {
    hooks = ThreatScanHooks{};
    hooks.hiddenProbeList = [] { return platform::listProcesses(); };
    hooks.runningProcessList = [] { return platform::listProcesses(); };
}

// Waits for the given time, or less when the scan is stopped meanwhile.
void idleWhileRunning(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (RunFlag() == 1) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - now, std::chrono::milliseconds(10)));
    }
}

// The page-file and restore-point steps: announced and timed, nothing read.
void idleLocationStep(const char16_t* startTrace, const char16_t* announcement,
                      const char16_t* endTrace) {
    if (RunFlag() != 1) return;
    SendOVMsg(SCANMSG_DEBUG, startTrace);
    SendOVMsg(SCANMSG_SCAN_LOCATION, announcement);
    idleWhileRunning(threatScanHooks().idleStepDuration);
    SendOVMsg(SCANMSG_DEBUG, endTrace);
}

}  // namespace

ThreatScanHooks& threatScanHooks() {
    static bool installed = [] {
        installSystemHooks(hooksInstance());
        return true;
    }();
    (void)installed;
    return hooksInstance();
}

void resetThreatScanHooks() { installSystemHooks(hooksInstance()); }

int32_t doStartQuickScanRutine(ScanRequest* request) {
    // Steps 1 to 5: the settings the request's owner reads back.
    const struct {
        const char16_t* trace;
        const char16_t* setting;
        int32_t ScanRequest::*field;
    } copied[] = {
        {u"doStartQuickScanRutine::IgnoreLarageFiles", names::kIgnoreLarageFiles,
         &ScanRequest::ignoreLargeFiles},
        {u"doStartQuickScanRutine::SmartExt", names::kSmartExt, &ScanRequest::smartExt},
        {u"doStartQuickScanRutine::ScanArchives", names::kScanArchives, &ScanRequest::scanArchives},
        {u"doStartQuickScanRutine::SendStatistics", names::kSendStatistics,
         &ScanRequest::sendStatistics},
        {u"doStartQuickScanRutine::Deep", names::kDeep, &ScanRequest::deepScan},
    };
    for (const auto& step : copied) {
        SendOVMsg(SCANMSG_DEBUG, step.trace);
        int32_t on = ReadSettingFlag(step.setting) == 1 ? 1 : 0;
        if (request != nullptr) request->*step.field = on;
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::ScanStartup");
    if (ReadSettingFlag(names::kScanStartup) == 1) {
        SendOVMsg(SCANMSG_SCAN_LOCATION, u"Startup Locations...");
        DoScanStartupFolders();
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::ScanSrvDrv");
    if (ReadSettingFlag(names::kScanSrvDrv) == 1) {
        SendOVMsg(SCANMSG_SCAN_LOCATION, u"Services & Drivers...");
        DoScanServices();
        DoScanDrivers();
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::ScanPageFile");
    if (ReadSettingFlag(names::kScanPageFile) == 1) {
        SendOVMsg(SCANMSG_SCAN_LOCATION, u"Page File...");
        idleLocationStep(u" DoScanPageFileLocation start", u"Scanning PageFile ...",
                         u" DoScanPageFileLocation end");
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::ScanMBR");
    if (ReadSettingFlag(names::kScanMBR) == 1) {
        SendOVMsg(SCANMSG_SCAN_LOCATION, u"Partition-MBR...");
        DoScanMBRLocation();
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::ScanSysRestore");
    if (ReadSettingFlag(names::kScanSysRestore) == 1) {
        SendOVMsg(SCANMSG_SCAN_LOCATION, u"Restore Point Location...");
        idleLocationStep(u" DoScanRestoreLocation start", u"Scanning Restore Location ...",
                         u" DoScanRestoreLocation end");
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::Hidden");
    if (ReadSettingFlag(names::kHidden) == 1) {
        SendOVMsg(SCANMSG_SCAN_LOCATION, u"Hiddend Process (Rootkits)...");
        DoScanHiddenProcess();
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::ScanFav");
    if (ReadSettingFlag(names::kScanFav) == 1) {
        SendOVMsg(SCANMSG_SCAN_LOCATION, u"Browser Favorite ...");
        DoScanFavoriteLocation();
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::Temp Folder");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Temp Folders...");
    DoScanTempFolderLocation();

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::Cookies");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Coockies Folders...");
    DoScanCookiesLocations();

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::Running Process");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Running Process...");
    if (RunFlag() == 1) {
        SendOVMsg(SCANMSG_DEBUG, u" DoScanRunningProcess start");
        DoScanRunningProcess();
        SendOVMsg(SCANMSG_DEBUG, u" DoScanRunningProcess end");
    }

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::Registry");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Registry Keys...");
    DoScanRegistryLocations();

    SendOVMsg(SCANMSG_DEBUG, u"doStartQuickScanRutine::Special Folder Location");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Typical Malware Location...");
    DoScanImportentFilesLocs();
    return 0;
}
