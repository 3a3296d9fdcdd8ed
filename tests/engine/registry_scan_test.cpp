// The registry location scan: which values name a program file, the four
// passes, the location text a finding carries, and the limits on names and
// data.
#include <gtest/gtest.h>

#include <cstring>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/threat_scan.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "threat_sandbox_support.h"

namespace {

using namespace threat_test;
using platform::RegRoot;

#define SKIP_WITHOUT_PRIVILEGES(box) \
    if ((box).privilegesMissing()) GTEST_SKIP() << "the account lacks the scan's privileges"

constexpr char16_t kRun[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char16_t kDrivers32[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

std::u16string convert(const std::u16string& data) {
    std::unique_ptr<char16_t[]> result = ConvertRegToStr(data.c_str());
    return result ? std::u16string(result.get()) : u"<null>";
}

TEST(ConvertRegToStr, KeepsPathsAndPlacesBareProgramNamesInTheSystemFolder) {
    const struct {
        std::u16string data;
        std::u16string result;
    } cases[] = {
        {u"C:\\Program Files\\App\\app.exe /background",
         u"c:\\program files\\app\\app.exe /background"},
        {u"msacm32.drv", u"c:\\windows\\system32\\msacm32.drv"},
        {u"WDMAUD.DRV", u"c:\\windows\\system32\\wdmaud.drv"},
        {u"%SystemRoot%\\System32\\x.dll", u"%systemroot%\\system32\\x.dll"},
        {u"D:\\Games\\run", u"d:\\games\\run"},
        {u"\"E:\\Program Data\\a.b\"", u"\"e:\\program data\\a.b\""},
        {u"{4D2F086C-6EA3-101B-A6F9-00AA00B8E07B}", u"<null>"},
        {u"1", u"<null>"},
        {u"", u"<null>"},
        {u"e:\\tools\\helper.ocx", u"e:\\tools\\helper.ocx"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convert(c.data), c.result) << platform::toUtf8(c.data);
    }
    // A bare name is cut so that the result stays a path of 259 characters.
    std::u16string longName(400, u'a');
    longName += u".dll";
    std::u16string result = convert(longName);
    EXPECT_EQ(result.size(), 259u);
    EXPECT_EQ(result.rfind(u"c:\\windows\\system32\\aaa", 0), 0u);
    // A DWORD's bytes read as text name nothing.
    uint32_t number = 0x00310031;  // "11" in UTF-16LE
    char16_t asText[3] = {};
    std::memcpy(asText, &number, 4);
    EXPECT_EQ(convert(asText), u"<null>");
}

TEST(RegistryScan, FindingsCarryTheirRegistryPlaceOnceThroughBothViews) {
    ThreatSandbox box;
    box.plant(box.c / "Program Files/App/app.exe");
    box.plant(box.c / "Windows/System32/evilacm.drv");
    box.placeClean(box.c / "Program Files/Clean/clean.exe");
    ASSERT_EQ(platform::writeString(RegRoot::CurrentUser, kRun, u"App",
                                    u"C:\\Program Files\\App\\app.exe /background"),
              0u);
    ASSERT_EQ(platform::writeString(RegRoot::CurrentUser, kRun, u"Clean",
                                    u"\"C:\\Program Files\\Clean\\clean.exe\""),
              0u);
    ASSERT_EQ(platform::writeDword(RegRoot::CurrentUser, kRun, u"Number", 1), 0u);
    ASSERT_EQ(
        platform::writeString(RegRoot::LocalMachine, kDrivers32, u"msacm.evil", u"evilacm.drv"),
        0u);
    // Sub-keys are not visited.
    box.plant(box.c / "Program Files/Deep/deep.exe");
    ASSERT_EQ(platform::writeString(RegRoot::CurrentUser, std::u16string(kRun) + u"\\Sub", u"Deep",
                                    u"C:\\Program Files\\Deep\\deep.exe"),
              0u);

    auto messages = box.run();
    SKIP_WITHOUT_PRIVILEGES(box);
    const std::u16string userPlace =
        u"DoScanRegistryLocations: HKEY_CURRENT_USER\\" + std::u16string(kRun) + u"\\App";
    const std::u16string machinePlace = u"DoScanRegistryLocations: HKEY_LOCAL_MACHINE\\" +
                                        std::u16string(kDrivers32) + u"\\msacm.evil";
    std::vector<std::u16string> expected = {
        reportLine(u"c:\\program files\\app\\app.exe", userPlace),
        reportLine(u"c:\\windows\\system32\\evilacm.drv", machinePlace),
    };
    EXPECT_EQ(textsOf(messages, SCANMSG_REPORT_LINE), expected)
        << show(textsOf(messages, SCANMSG_REPORT_LINE));
    // Both user passes read the value; the 64-bit machine pass has its blank.
    EXPECT_EQ(countText(messages, SCANMSG_DEBUG, userPlace), 2u);
    EXPECT_EQ(countText(messages, SCANMSG_DEBUG, machinePlace), 1u);
    EXPECT_EQ(countText(messages, SCANMSG_DEBUG, u" " + machinePlace), 1u);
    EXPECT_EQ(countText(messages, SCANMSG_DEBUG,
                        u" " + std::u16string(kRun) + u" Count: 3 Last Error: 259\n\r"),
              2u);
    // Keys that do not exist are traced with nothing read.
    EXPECT_EQ(countText(messages, SCANMSG_DEBUG,
                        u" SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx "
                        u"Count: 0 Last Error: 2\n\r"),
              4u);
    EXPECT_TRUE(hasText(messages, SCANMSG_DEBUG,
                        u"----------------------------> DoScanRegistryLocations Start"));
    EXPECT_TRUE(hasText(messages, SCANMSG_DEBUG,
                        u" DoScanRegistryLocations End <----------------------------"));
}

// A value too large for the buffers is read with buffers of its size, and
// the values after it are read all the same.
TEST(RegistryScan, AValueTooLargeForItsBuffersDoesNotEndItsKey) {
    struct Case {
        const char* what;
        std::u16string name;
        std::u16string data;
        bool fits;
    };
    const Case cases[] = {
        {"data of 1024 bytes", u"Big", std::u16string(511, u'x'), true},
        {"data of 1026 bytes", u"Big", std::u16string(512, u'x'), false},
        {"name of 1023 characters", std::u16string(1023, u'n'), u"x", true},
        {"name of 1024 characters", std::u16string(1024, u'n'), u"x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ThreatSandbox box;
        box.plant(box.c / "Program Files/First/first.exe");
        box.plant(box.c / "Program Files/Last/last.exe");
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kRun, u"First",
                                        u"C:\\Program Files\\First\\first.exe"),
                  0u);
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kRun, c.name, c.data), 0u);
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kRun, u"Last",
                                        u"C:\\Program Files\\Last\\last.exe"),
                  0u);
        auto messages = box.run();
        SKIP_WITHOUT_PRIVILEGES(box);
        auto lines = textsOf(messages, SCANMSG_REPORT_LINE);
        ASSERT_EQ(lines.size(), 2u) << show(lines);
        EXPECT_NE(lines[0].find(u"first.exe"), std::u16string::npos);
        EXPECT_NE(lines[1].find(u"last.exe"), std::u16string::npos);
        const std::u16string trace = u" " + std::u16string(kRun) + u" Count: 3 Last Error: 259\n\r";
        EXPECT_EQ(countText(messages, SCANMSG_DEBUG, trace), 2u);
    }
}

}  // namespace
