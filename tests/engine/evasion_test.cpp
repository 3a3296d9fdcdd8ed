// Ways a known-bad file could hide from a scan: a name the path translation
// would cut, registry values the registry scan would misread or never reach,
// a long driver list, a module named like the product, a very long path.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_test_support.h"
#include "engine/threat_scan.h"
#include "engine/walker_sandbox_support.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "threat_sandbox_support.h"

namespace {

namespace fs = std::filesystem;
using platform::RegRoot;

#define SKIP_WITHOUT_PRIVILEGES(box) \
    if ((box).privilegesMissing()) GTEST_SKIP() << "the account lacks the scan's privileges"

// A file whose name holds a character the path translation cuts at, beside a
// clean file named with the start of its name: the file itself is scanned
// and reported under its own name, walked or named alone.
TEST(NeighbourNames, TheFileItselfIsScannedNotItsNeighbour) {
    struct Case {
        const char* infected;  // host name, UTF-8
        const char* neighbour;
    };
    const Case cases[] = {
        {"a~1.exe", "a"},
        {"b\xc3\xa9.exe", "b"},
        {"c{x}.exe", "c"},
        {"d|e.exe", "d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.infected);
        walker_test::ScanSandbox box;
        const fs::path drive = box.folder("drive");
        if (!box.mapDrive('X', drive))
            GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
        box.plant(drive / c.infected, std::string("bad content of ") + c.infected);
        box.write(drive / c.neighbour, "clean neighbour");
        box.setSetting(names::kSmartExt, 0);
        const std::string reported = std::string("x:\\") + c.infected;

        walker_test::ScanRecord walked = box.runFull(u"X:\\");
        EXPECT_EQ(walked.findings(reported), 1);
        EXPECT_EQ(walked.count(SCANMSG_INFECTED_TICK), 1);

        const std::u16string alone = u"X:\\" + platform::toUtf16(c.infected);
        walker_test::ScanRecord named = box.runCustom(alone, u"");
        EXPECT_EQ(named.findings(reported), 1) << "as the custom file";
        EXPECT_EQ(named.count(SCANMSG_INFECTED_TICK), 1);
    }
}

constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char16_t kDrivers32Key[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

std::u16string Location(const char16_t* key, const std::u16string& value) {
    return u"DoScanRegistryLocations: HKEY_LOCAL_MACHINE\\" + std::u16string(key) + u"\\" + value;
}

// Registry values naming program files the registry scan used to misread
// (another drive), never reach (behind a long value) or must still place in
// the system folder (a bare driver name).
TEST(RegistryEvasions, EveryNamedProgramIsFound) {
    struct Value {
        const char16_t* key;
        std::u16string name;
        std::u16string data;
    };
    struct Case {
        const char* what;
        std::vector<Value> values;
        std::vector<std::string> planted;      // below the sandbox root, '/' separated
        std::vector<std::u16string> reported;  // names, in order, with their value
        std::vector<std::u16string> valueOf;
    };
    const std::u16string longValue =
        u"C:\\Program Files\\Pad\\pad.exe /" + std::u16string(3000, u'x');
    const std::vector<Case> cases = {
        {"a program on drive E:",
         {{kRunKey, u"Helper", u"E:\\Tools\\Helper.ocx"}},
         {"e/Tools/Helper.ocx"},
         {u"e:\\tools\\helper.ocx"},
         {u"Helper"}},
        {"a program on drive E: with arguments",
         {{kRunKey, u"Tool", u"E:\\Tools\\Tool.exe /s"}},
         {"e/Tools/Tool.exe"},
         {u"e:\\tools\\tool.exe"},
         {u"Tool"}},
        {"a long value, then a Run value",
         {{kRunKey, u"Pad", longValue}, {kRunKey, u"Last", u"C:\\Program Files\\Last\\last.exe"}},
         {"c/Program Files/Pad/pad.exe", "c/Program Files/Last/last.exe"},
         {u"c:\\program files\\pad\\pad.exe", u"c:\\program files\\last\\last.exe"},
         {u"Pad", u"Last"}},
        {"a long name, then a Run value",
         {{kRunKey, std::u16string(3000, u'n'), u"x"},
          {kRunKey, u"Last", u"C:\\Program Files\\Last\\last.exe"}},
         {"c/Program Files/Last/last.exe"},
         {u"c:\\program files\\last\\last.exe"},
         {u"Last"}},
        {"a path longer than 1023 characters",
         {{kRunKey, u"Far",
           u"C:\\" + std::u16string(250, u'F') + u"\\" + std::u16string(250, u'G') + u"\\" +
               std::u16string(250, u'H') + u"\\" + std::u16string(250, u'I') + u"\\far.exe"}},
         {"c/" + std::string(250, 'F') + "/" + std::string(250, 'G') + "/" + std::string(250, 'H') +
          "/" + std::string(250, 'I') + "/far.exe"},
         {u"c:\\" + std::u16string(250, u'f') + u"\\" + std::u16string(250, u'g') + u"\\" +
          std::u16string(250, u'h') + u"\\" + std::u16string(250, u'i') + u"\\far.exe"},
         {u"Far"}},
        {"a bare driver name",
         {{kDrivers32Key, u"msacm.evil", u"evilacm.drv"}},
         {"c/Windows/System32/evilacm.drv"},
         {u"c:\\windows\\system32\\evilacm.drv"},
         {u"msacm.evil"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        threat_test::ThreatSandbox box;
        const fs::path e = box.root / "e";
        fs::create_directories(e);
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, names::kMountedDevicesKey,
                                        u"\\DosDevices\\E:", platform::toUtf16(e.string())),
                  0u);
        for (const std::string& file : c.planted)
            box.plant(file.rfind("e/", 0) == 0 ? box.root / file : box.c / file.substr(2));
        for (const Value& value : c.values)
            ASSERT_EQ(
                platform::writeString(RegRoot::LocalMachine, value.key, value.name, value.data),
                0u);
        auto messages = box.run();
        SKIP_WITHOUT_PRIVILEGES(box);
        std::vector<std::u16string> expected;
        for (size_t i = 0; i < c.reported.size(); ++i) {
            const char16_t* key = kRunKey;
            for (const Value& value : c.values)
                if (value.name == c.valueOf[i]) key = value.key;
            expected.push_back(threat_test::reportLine(c.reported[i], Location(key, c.valueOf[i])));
        }
        EXPECT_EQ(threat_test::textsOf(messages, SCANMSG_REPORT_LINE), expected)
            << threat_test::show(threat_test::textsOf(messages, SCANMSG_REPORT_LINE));
    }
}

// However many drivers are loaded, each one's file is checked.
TEST(DriverEvasions, ALongDriverListIsScannedWhole) {
    threat_test::ThreatSandbox box;
    const fs::path driver = box.plant(box.c / "lib/modules/kernel/evil/evilmod.ko");
    std::ofstream(fs::path(threatScanHooks().driverSources.modulesRoot) / "modules.dep")
        << "kernel/evil/evilmod.ko:\n";
    {
        std::ofstream list(threatScanHooks().driverSources.modulesList, std::ios::trunc);
        for (int i = 1; i < 1100; ++i) list << "mod" << i << " 16384 0 - Live 0x0\n";
        list << "evilmod 16384 0 - Live 0x0\n";  // the last of 1100
    }
    box.setSetting(names::kScanSrvDrv, 1);
    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_EQ(threat_test::textsOf(messages, SCANMSG_REPORT_LINE),
              std::vector<std::u16string>{
                  threat_test::reportLine(platform::toWindowsPath(driver.string()), u"(null)")});
}

// A running program whose path holds the product's name, in a folder of a
// user, is checked like any other: only the product's program folder is
// passed by.
TEST(ModuleEvasions, AModuleNamedLikeTheProductIsChecked) {
    threat_test::ThreatSandbox box;
    std::string program;
    {
        std::ifstream in("/bin/sleep", std::ios::binary);
        program.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_FALSE(program.empty());
    const fs::path named = box.usersFolder() / "Downloads/Orvane/Orvane";
    box.plant(named, program);
    fs::permissions(named, fs::perms::owner_all);

    threat_test::TestChild child({named.string(), "30"});
    ASSERT_GT(child.pid(), 0);
    const uint32_t pid = static_cast<uint32_t>(child.pid());
    for (int i = 0; i < 500; ++i) {
        auto modules = platform::listModules(pid);
        if (!modules.empty() && platform::baseName(modules.front()) == u"Orvane") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    threatScanHooks().runningProcessList = [pid] {
        platform::ProcessEntry entry;
        entry.pid = pid;
        return std::vector<platform::ProcessEntry>{entry};
    };
    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    EXPECT_EQ(threat_test::textsOf(messages, SCANMSG_REPORT_LINE),
              std::vector<std::u16string>{
                  threat_test::reportLine(platform::toWindowsPath(named.string()), u"(null)")});
}

// A finding deep in a tree is reported under its whole path, however long,
// never under a cut one that names a folder.
TEST(LongPaths, AFindingIsReportedUnderItsWholePath) {
    walker_test::ScanSandbox box;
    const fs::path drive = box.folder("drive");
    if (!box.mapDrive('X', drive))
        GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
    fs::path folder = drive;
    std::string windows = "x:";
    for (int i = 0; i < 13; ++i) {
        const std::string name(192, static_cast<char>('a' + i));
        folder /= name;
        windows += "\\" + name;
    }
    box.plant(folder / "evil.exe", "deep down");
    windows += "\\evil.exe";
    ASSERT_GE(windows.size(), 2500u);
    box.setSetting(names::kSmartExt, 0);

    walker_test::ScanRecord record = box.runFull(u"X:\\");
    ASSERT_EQ(record.reportLines.size(), 1u);
    EXPECT_EQ(record.reportLines[0], " Infected Generic Malware: " + windows + " [(null)].");
    ASSERT_EQ(record.infected.size(), 1u);
    EXPECT_EQ(record.infected[0], "### " + windows + " -> Infected!");
}

// However long a finding's path, its report line reaches the window, while
// other texts keep the channel's limit.
TEST(LongPaths, AReportLineOfAnyLengthIsDelivered) {
    const std::u16string path = u"x:\\" + std::u16string(5000, u'p') + u"\\evil.exe";
    enginetest::Recorder recorder;
    enginetest::RequestScope scope(recorder);
    SendOVMsg(SCANMSG_REPORT_LINE, u" Infected Generic %s: %s [%s].", u"Malware", path.c_str(),
              u"(null)");
    SendOVMsg(SCANMSG_INFECTED_TEXT, u"### %s -> Infected!", path.c_str());
    EXPECT_EQ(recorder.texts(SCANMSG_REPORT_LINE),
              std::vector<std::u16string>{u" Infected Generic Malware: " + path + u" [(null)]."});
    EXPECT_EQ(recorder.count(SCANMSG_INFECTED_TEXT), 0u);
}

}  // namespace
