#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/settings/sysinfo_dialog.h"
#include "app/settings/sysinfo_fields.h"
#include "app/shell/scripted_prompts.h"
#include "settings_test_support.h"

namespace {

class SysInfoTest : public SettingsRegistryTest {
protected:
    void SetUp() override {
        SettingsRegistryTest::SetUp();
        std::filesystem::create_directories(folder.path() / "root");
        platform::setSystemRoot((folder.path() / "root").string());
    }
    void TearDown() override {
        platform::setSystemRoot({});
        SettingsRegistryTest::TearDown();
    }
    void put(const std::string& path, const std::string& content) {
        const auto file = folder.path() / "root" / path.substr(1);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
    void machine() {
        put("/proc/meminfo",
            "MemTotal: 8388608 kB\nMemAvailable: 2097152 kB\nSwapTotal: 1048576 kB\n"
            "SwapFree: 524288 kB\n");
        put("/proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
        put("/sys/devices/system/cpu/online", "0-7\n");
        put("/proc/sys/vm/mmap_min_addr", "65536\n");
    }
};

TEST(ArchitectureText, TheCodesAndTheirTexts) {
    EXPECT_EQ(ArchitectureText(0), u"INTEL");
    EXPECT_EQ(ArchitectureText(9), u"AMD");
    EXPECT_EQ(ArchitectureText(6), u"IS64");
    EXPECT_EQ(ArchitectureText(65535), u"<unknown>");
    EXPECT_EQ(ArchitectureText(12), u"");
    EXPECT_EQ(ArchitectureText(5), u"");
}

TEST_F(SysInfoTest, TheDialogShowsEveryFieldInItsFormat) {
    machine();
    put("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3600000\n");
    put("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "2800000\n");
    ScriptedPrompts prompts;
    SysInfoDialog dialog;
    EXPECT_EQ(dialog.objectName(), "dialog159");
    EXPECT_TRUE(prompts.questions().empty());
    std::u16string user, computer;
    ASSERT_EQ(platform::userName(user), 0u);
    ASSERT_EQ(platform::computerName(computer), 0u);
    EXPECT_EQ(dialog.fieldText(1070).toStdU16String(), user);
    EXPECT_EQ(dialog.fieldText(1002).toStdU16String(), computer);
    EXPECT_EQ(dialog.fieldText(1069), "Number of processors: 8");
    EXPECT_EQ(dialog.fieldText(1075), QString("Page size: %1").arg(::sysconf(_SC_PAGESIZE)));
    EXPECT_EQ(dialog.fieldText(1077), "Minimum application address: 10000");
    EXPECT_EQ(dialog.fieldText(1079), "Active processor mask: 255");
    EXPECT_EQ(dialog.fieldText(1080), "CPU Speed: 3600 Mhz Current Spped: 2800 Mhz");
#if defined(__x86_64__)
    EXPECT_EQ(dialog.fieldText(1071), "AMD");
    EXPECT_EQ(dialog.fieldText(1076), "Processor type: 8664");
    EXPECT_EQ(dialog.fieldText(1078), "Maximum application address: 7fffffffefff");
#endif
    EXPECT_EQ(dialog.fieldText(1072), "6");
    EXPECT_EQ(dialog.fieldText(1009), "1");
    EXPECT_EQ(dialog.fieldText(1008), "0");
    EXPECT_EQ(dialog.fieldText(1010), "");
    EXPECT_EQ(dialog.fieldText(1064), "75 percent of memory is in use.");
    EXPECT_EQ(dialog.fieldText(1050), "There are 8192 total MB of physical memory.");
    EXPECT_EQ(dialog.fieldText(1065), "There are 2048 free MB of physical memory.");
    EXPECT_EQ(dialog.fieldText(1052), "There are 1024 total MB of paging file.");
    EXPECT_EQ(dialog.fieldText(1063), "There are 512 free MB of paging file.");
    EXPECT_TRUE(dialog.fieldText(1066).startsWith("There are "));
    EXPECT_TRUE(dialog.fieldText(1067).endsWith(" free MB of virtual memory."));
    EXPECT_EQ(dialog.fieldText(1068), "There are 0 free MB of extended memory.");
    const std::string log = logText();
    size_t at = 0;
    for (const char* line : {"In SysInfo", "In LoadSystemInfoData", "In LoadMemData",
                             "In LoadOSInfoData", "In LoadHWData", "In LoadExtraData"}) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line;
    }
}

TEST_F(SysInfoTest, NoClockFiguresLeaveTheSpeedEmpty) {
    machine();
    ScriptedPrompts prompts;
    SysInfoDialog dialog;
    EXPECT_EQ(dialog.fieldText(1080), "");
    EXPECT_EQ(dialog.fieldText(1069), "Number of processors: 8");
    DialogFields fields;
    EXPECT_EQ(LoadExtraData(fields), 0);
    EXPECT_TRUE(fields.empty());
}

TEST_F(SysInfoTest, AMemoryFailureIsShownInAnOwnerlessBoxAndTheFieldsStayEmpty) {
    put("/proc/sys/kernel/osrelease", "6.1.0\n");
    ScriptedPrompts prompts;
    SysInfoDialog dialog;
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, u"Obtaining current memory return error: 2");
    EXPECT_EQ(prompts.questions()[0].caption, u"ERROR");
    EXPECT_FALSE(prompts.questions()[0].hasOwner);
    for (int id : {1064, 1050, 1065, 1052, 1063, 1066, 1067, 1068}) {
        EXPECT_EQ(dialog.fieldText(id), "") << id;
    }
    EXPECT_EQ(dialog.fieldText(1072), "6");
}

TEST_F(SysInfoTest, CloseEscapeAndOkEndIt) {
    machine();
    ScriptedPrompts prompts;
    for (int id : {1, 2, 1085}) {
        SysInfoDialog dialog;
        dialog.show();
        EXPECT_EQ(dialog.onCommand(id, 0), 1);
        EXPECT_EQ(dialog.result(), id);
        EXPECT_FALSE(dialog.isVisible());
    }
    SysInfoDialog dialog;
    dialog.show();
    EXPECT_EQ(dialog.onCommand(1070, 0), 0);
    dialog.reject();
    EXPECT_EQ(dialog.result(), 2);
    prompts.queueDialogHandler([](QDialog& d) {
        static_cast<SysInfoDialog&>(d).onCommand(1085, 0);
        return d.result();
    });
    EXPECT_EQ(SysInfo(nullptr), 1085);
}

}  // namespace
