// The threat scan over a sandbox system drive: the order of its steps, the
// settings that switch them on, and what each location scanner finds.
#include "engine/threat_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/linux/process_list_internal.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "threat_sandbox_support.h"

namespace {

using namespace threat_test;

#define SKIP_WITHOUT_PRIVILEGES(box) \
    if ((box).privilegesMissing()) GTEST_SKIP() << "the account lacks the scan's privileges"

// What is announced whatever the settings say, in order.
const std::vector<std::u16string> kAlwaysAnnounced = {
    u"Temp Folders...",
    u"Temp Folders...",
    u"Coockies Folders...",
    u"Cookies Location ...",
    u"Running Process...",
    u"Registry Keys...",
    u"Typical Malware Location...",
};

std::vector<std::u16string> stepTraces(const std::vector<Message>& messages) {
    std::vector<std::u16string> out;
    for (const std::u16string& text : textsOf(messages, SCANMSG_DEBUG)) {
        if (text.rfind(u"doStartQuickScanRutine::", 0) == 0) out.push_back(text);
    }
    return out;
}

TEST(ThreatScan, WithEverySettingOffOnlyTheFixedLocationsRunInOrder) {
    ThreatSandbox box;
    ScanRequest request{};
    request.deepScan = request.scanArchives = request.sendStatistics = request.smartExt =
        request.ignoreLargeFiles = 1;
    auto messages = box.run(&request);
    SKIP_WITHOUT_PRIVILEGES(box);

    EXPECT_EQ(textsOf(messages, SCANMSG_SCAN_LOCATION), kAlwaysAnnounced)
        << show(textsOf(messages, SCANMSG_SCAN_LOCATION));
    const std::vector<std::u16string> steps = {
        u"doStartQuickScanRutine::IgnoreLarageFiles",
        u"doStartQuickScanRutine::SmartExt",
        u"doStartQuickScanRutine::ScanArchives",
        u"doStartQuickScanRutine::SendStatistics",
        u"doStartQuickScanRutine::Deep",
        u"doStartQuickScanRutine::ScanStartup",
        u"doStartQuickScanRutine::ScanSrvDrv",
        u"doStartQuickScanRutine::ScanPageFile",
        u"doStartQuickScanRutine::ScanMBR",
        u"doStartQuickScanRutine::ScanSysRestore",
        u"doStartQuickScanRutine::Hidden",
        u"doStartQuickScanRutine::ScanFav",
        u"doStartQuickScanRutine::Temp Folder",
        u"doStartQuickScanRutine::Cookies",
        u"doStartQuickScanRutine::Running Process",
        u"doStartQuickScanRutine::Registry",
        u"doStartQuickScanRutine::Special Folder Location",
    };
    EXPECT_EQ(stepTraces(messages), steps) << show(stepTraces(messages));
    // The settings copied into the request are all off.
    EXPECT_EQ(request.deepScan, 0);
    EXPECT_EQ(request.scanArchives, 0);
    EXPECT_EQ(request.sendStatistics, 0);
    EXPECT_EQ(request.smartExt, 0);
    EXPECT_EQ(request.ignoreLargeFiles, 0);
    EXPECT_TRUE(textsOf(messages, SCANMSG_REPORT_LINE).empty());
}

struct SettingCase {
    const char16_t* setting;
    std::vector<std::u16string> announced;  // before the fixed locations
    int32_t ScanRequest::*field;            // the request field it sets, if any
};

TEST(ThreatScan, EachSettingSwitchesItsStepOn) {
    const SettingCase cases[] = {
        {names::kIgnoreLarageFiles, {}, &ScanRequest::ignoreLargeFiles},
        {names::kSmartExt, {}, &ScanRequest::smartExt},
        {names::kScanArchives, {}, &ScanRequest::scanArchives},
        {names::kSendStatistics, {}, &ScanRequest::sendStatistics},
        {names::kDeep, {}, &ScanRequest::deepScan},
        {names::kScanStartup, {u"Startup Locations..."}, nullptr},
        {names::kScanSrvDrv, {u"Services & Drivers..."}, nullptr},
        {names::kScanPageFile, {u"Page File...", u"Scanning PageFile ..."}, nullptr},
        {names::kScanMBR, {u"Partition-MBR...", u"Scanning Partition MBR ..."}, nullptr},
        {names::kScanSysRestore,
         {u"Restore Point Location...", u"Scanning Restore Location ..."},
         nullptr},
        {names::kHidden, {u"Hiddend Process (Rootkits)..."}, nullptr},
        {names::kScanFav, {u"Browser Favorite ...", u"Favorite Location ..."}, nullptr},
    };
    for (const SettingCase& c : cases) {
        SCOPED_TRACE(platform::toUtf8(c.setting));
        ThreatSandbox box;
        // Only the value 1 is on.
        box.setSetting(c.setting, 2);
        ScanRequest request{};
        auto messages = box.run(&request);
        SKIP_WITHOUT_PRIVILEGES(box);
        EXPECT_EQ(textsOf(messages, SCANMSG_SCAN_LOCATION), kAlwaysAnnounced);
        if (c.field) {
            EXPECT_EQ(request.*c.field, 0);
        }

        box.setSetting(c.setting, 1);
        // The hidden-process step looks at a process table of the test's
        // own: one process, init.
        fs::create_directories(box.root / "proc" / "1");
        std::ofstream(box.root / "proc" / "1" / "status") << "Name:\tinit\nTgid:\t1\nPPid:\t0\n";
        platform::detail::ScopedProcessRoot processes((box.root / "proc").string());
        threatScanHooks().highestProcessId = 64;
        messages = box.run(&request);
        std::vector<std::u16string> expected = c.announced;
        expected.insert(expected.end(), kAlwaysAnnounced.begin(), kAlwaysAnnounced.end());
        EXPECT_EQ(textsOf(messages, SCANMSG_SCAN_LOCATION), expected)
            << show(textsOf(messages, SCANMSG_SCAN_LOCATION));
        if (c.field) {
            EXPECT_EQ(request.*c.field, 1);
        }
    }
}

TEST(ThreatScan, PlantedFilesAreFoundWhereTheTablesPoint) {
    ThreatSandbox box;
    const fs::path home = box.usersFolder();
    const fs::path xp = box.c / "Documents and Settings" / ThreatSandbox::toHost(box.user);
    const fs::path startup = box.plant(home /
                                       "AppData/Roaming/Microsoft/Windows/Start Menu/"
                                       "Programs/Startup/evil.exe");
    const fs::path favorite = box.plant(home / "Favorites/links/fav.exe");
    const fs::path desktop = box.plant(xp / "Desktop/desk.scr");
    const fs::path cookie = box.plant(home / "AppData/Roaming/Microsoft/Windows/Cookies/c.dll");
    const fs::path profile = box.plant(xp / "Application Data/Mozilla/Firefox/Profiles/p/x.exe");
    const fs::path tempFile = box.plant(box.temp / "dropper.exe");
    const fs::path system32 = box.plant(box.c / "Windows/System32/sub/bad.sys");
    const fs::path winsxs = box.plant(box.c / "Windows/winsxs/side.dll");
    // Files the smart filter passes over, and places no table names.
    box.plant(home / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Startup/note.txt");
    box.plant(box.c / "Windows/elsewhere.exe");
    box.plant(home / "Documents/doc.exe");
    box.placeClean(box.c / "Windows/System32/clean.dll");
    box.setAllThreatSettings(1);
    box.setSetting(names::kHidden, 0);
    box.setSetting(names::kScanArchives, 0);

    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    std::vector<std::u16string> lines = textsOf(messages, SCANMSG_REPORT_LINE);
    std::vector<std::u16string> expected;
    for (const fs::path& path :
         {startup, favorite, desktop, tempFile, cookie, profile, system32, winsxs}) {
        expected.push_back(reportLine(ThreatSandbox::walkedName(path), u"(null)"));
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected) << show(lines);
}

TEST(ThreatScan, FavouritesOffTheSystemDriveAreNotWalked) {
    ThreatSandbox box;
    const fs::path d = box.root / "d";
    const fs::path onD =
        box.plant(d / "Users" / ThreatSandbox::toHost(box.user) / "Favorites/d.exe");
    const fs::path onC = box.plant(box.usersFolder() / "Favorites/c.exe");
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey,
                                    u"\\DosDevices\\D:", platform::toUtf16(d.string())),
              0u);
    static const char16_t* const table[] = {u"D:\\Users\\%s\\Favorites",
                                            u"c:\\Users\\%s\\Favorites", u"", u"C:\\never"};
    threatScanHooks().favoriteFolders = table;
    box.setSetting(names::kScanFav, 1);

    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_EQ(textsOf(messages, SCANMSG_REPORT_LINE),
              std::vector<std::u16string>{reportLine(ThreatSandbox::walkedName(onC), u"(null)")});
    const std::u16string dFolder = u"D:\\Users\\" + box.user + u"\\Favorites";
    EXPECT_TRUE(
        hasText(messages, SCANMSG_DEBUG,
                u" DoScanFavoriteLocation folder: " + dFolder + u" [0](D:\\Users\\%s\\Favorites)"));
    EXPECT_FALSE(hasText(messages, SCANMSG_DEBUG, u"FindF: ->> Start path: " + dFolder));
    EXPECT_FALSE(hasText(messages, SCANMSG_DEBUG,
                         u" DoScanFavoriteLocation folder: C:\\never [3](C:\\never)"));
    (void)onD;
}

TEST(ThreatScan, ServicesUnitsAndDriversHaveTheirProgramsChecked) {
    ThreatSandbox box;
    const fs::path service = box.plant(box.c / "Windows/evilsvc.exe");
    const fs::path unitProgram = box.plant(box.c / "opt/unitd/unitd");
    const fs::path driver = box.plant(box.c / "lib/modules/kernel/evil/evil-mod.ko");
    const fs::path clean = box.placeClean(box.c / "Windows/goodsvc.exe");
    const char16_t* services = u"SYSTEM\\CurrentControlSet\\Services";
    auto addService = [&](const std::u16string& name, const std::u16string& image) {
        std::u16string key = std::u16string(services) + u"\\" + name;
        ASSERT_EQ(platform::writeDword(platform::RegRoot::LocalMachine, key, u"Type", 0x20), 0u);
        ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, key, u"ImagePath", image,
                                        platform::kRegExpandSz),
                  0u);
    };
    // Sorted by name: the broken record comes first, the others still run.
    addService(u"AAA Broken", u"");
    {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::open(platform::RegRoot::LocalMachine,
                                         std::u16string(services) + u"\\AAA Broken", key),
                  0u);
        uint32_t notText = 5;
        ASSERT_EQ(key.setValue(u"ImagePath", platform::kRegDword, &notText, 4), 0u);
    }
    addService(u"EvilSvc", u"C:\\Windows\\evilsvc.exe -k netsvcs");
    addService(u"GoodSvc", u"C:\\Windows\\goodsvc.exe");
    std::ofstream(box.units / "unitd.service")
        << "[Service]\nExecStart=" << unitProgram.string() << " --daemon\n";
    std::ofstream(threatScanHooks().driverSources.modulesList)
        << "evil_mod 16384 0 - Live 0x0000000000000000\nbuiltin_x 1 0 - Live 0x0\n";
    std::ofstream(fs::path(threatScanHooks().driverSources.modulesRoot) / "modules.dep")
        << "kernel/evil/evil-mod.ko:\n";
    box.setSetting(names::kScanSrvDrv, 1);

    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    std::vector<std::u16string> lines = textsOf(messages, SCANMSG_REPORT_LINE);
    std::vector<std::u16string> expected = {
        reportLine(u"c:\\windows\\evilsvc.exe", u"(null)"),
        reportLine(platform::toWindowsPath(unitProgram.string()), u"(null)"),
        reportLine(platform::toWindowsPath(driver.string()), u"(null)"),
    };
    EXPECT_EQ(lines, expected) << show(lines);
    EXPECT_TRUE(hasText(messages, SCANMSG_DEBUG, u" QueryServiceConfig Last Error: 13"));
    EXPECT_TRUE(
        hasText(messages, SCANMSG_DEBUG,
                u" DoScanDrivers driver name: " + platform::toWindowsPath(driver.string())));
    EXPECT_TRUE(hasText(messages, SCANMSG_DEBUG,
                        u"  __ScanFile ##### Started: C:\\Windows\\goodsvc.exe, (null)"));
    (void)service;
    (void)clean;
}

TEST(ThreatScan, TheBootSectorHitIsReportedAsMbr) {
    ThreatSandbox box;
    std::string image(16384, 'x');
    std::string sector(512, '\0');
    for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<char>(i * 7 + 3);
    image.replace(2560, 512, sector);
    std::ofstream(box.root / "disk.img", std::ios::binary | std::ios::trunc) << image;
    box.addHash(sector);
    box.setSetting(names::kScanMBR, 1);

    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_EQ(textsOf(messages, SCANMSG_REPORT_LINE),
              std::vector<std::u16string>{reportLine(u"MBR", u"(null)")});

    // A drive that cannot be opened is traced, and the scan goes on.
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey,
                                    u"\\\\.\\PhysicalDrive0",
                                    platform::toUtf16((box.root / "nodisk.img").string())),
              0u);
    messages = box.run();
    EXPECT_TRUE(hasText(messages, SCANMSG_DEBUG, u" DoScanMBRLocation: error code 2"));
    EXPECT_TRUE(hasText(messages, SCANMSG_SCAN_LOCATION, u"Typical Malware Location..."));
}

TEST(ThreatScan, RunningProcessModulesAreCheckedButNotTheProductsOwn) {
    ThreatSandbox box;
    std::string program;
    {
        std::ifstream in("/bin/sleep", std::ios::binary);
        program.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_FALSE(program.empty());
    // The same program in two places: an ordinary folder and the product's.
    const fs::path evil = box.c / "apps/evilsleep";
    const fs::path own = box.bin / "ownsleep";
    box.plant(evil, program);
    box.plant(own, program);
    fs::permissions(evil, fs::perms::owner_all);
    fs::permissions(own, fs::perms::owner_all);

    for (const fs::path& path : {evil, own}) {
        SCOPED_TRACE(path.string());
        TestChild child({path.string(), "30"});
        ASSERT_GT(child.pid(), 0);
        // Wait until the child runs its program.
        for (int i = 0; i < 500; ++i) {
            auto modules = platform::listModules(static_cast<uint32_t>(child.pid()));
            if (!modules.empty() &&
                platform::baseName(modules.front()) == path.filename().u16string())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const uint32_t pid = static_cast<uint32_t>(child.pid());
        threatScanHooks().runningProcessList = [pid] {
            platform::ProcessEntry entry;
            entry.pid = pid;
            return std::vector<platform::ProcessEntry>{entry};
        };
        auto messages = box.run();
        SKIP_WITHOUT_PRIVILEGES(box);
        std::vector<std::u16string> expected;
        if (path == evil)
            expected.push_back(reportLine(platform::toWindowsPath(evil.string()), u"(null)"));
        EXPECT_EQ(textsOf(messages, SCANMSG_REPORT_LINE), expected);
        EXPECT_TRUE(hasText(messages, SCANMSG_DEBUG, u" DoScanRunningProcess end"));
    }
}

TEST(ThreatScan, AStopEndsAnIdleStepAtOnce) {
    ThreatSandbox box;
    threatScanHooks().idleStepDuration = std::chrono::seconds(60);
    box.setSetting(names::kScanPageFile, 1);
    std::atomic<bool> idle{false};
    box.onMessage = [&](uint32_t code, const std::u16string& text) {
        if (code == SCANMSG_SCAN_LOCATION && text == u"Scanning PageFile ...") idle = true;
    };
    // Stops the scan from another thread once the page-file step waits.
    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        while (!idle && !finished) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (idle) StopOV();
    });
    auto begin = std::chrono::steady_clock::now();
    auto messages = box.run();
    finished = true;
    stopper.join();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
    EXPECT_TRUE(idle);
    EXPECT_TRUE(hasText(messages, SCANMSG_DEBUG, u" DoScanPageFileLocation end"));
    // The steps after it see the stop and do not run their scanners.
    EXPECT_FALSE(hasText(messages, SCANMSG_DEBUG, u" DoScanTempFolderLocation start"));
    EXPECT_TRUE(hasText(messages, SCANMSG_SCAN_LOCATION, u"Typical Malware Location..."));
}

}  // namespace
