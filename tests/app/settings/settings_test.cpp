#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>

#include "app/settings/settings_dialog.h"
#include "app/settings/settings_store.h"
#include "app/shell/scripted_prompts.h"
#include "common/registry_names.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings_test_support.h"

namespace {

using platform::RegRoot;

class SettingsTest : public SettingsRegistryTest {};

size_t indexOf(int controlId) {
    for (size_t i = 0; i < kSettingsFlags.size(); ++i) {
        if (kSettingsFlags[i].controlId == controlId) return i;
    }
    ADD_FAILURE() << controlId;
    return 0;
}

TEST(SettingsFlags, IdsNamesAndSaveOrder) {
    const struct {
        int id;
        const char16_t* name;
    } expected[] = {
        {1003, u"CloseBrowsers"},  {1010, u"SendStatistics"},
        {1014, u"CheckUpdates"},   {1034, u"IgnoreLarageFiles"},
        {1032, u"SmartExt"},       {1011, u"ScanArchives"},
        {1023, u"ScanStartup"},    {1016, u"ScanSrvDrv"},
        {1018, u"ScanPageFile"},   {1022, u"ScanMBR"},
        {1020, u"ScanSysRestore"}, {1029, u"CatchExt"},
        {1024, u"Deep"},           {1009, u"Hidden"},
        {1027, u"ScanFav"},        {1052, u"Monitoring"},
        {1054, u"Startup"},
    };
    ASSERT_EQ(std::size(expected), kSettingsFlags.size());
    for (size_t i = 0; i < kSettingsFlags.size(); ++i) {
        EXPECT_EQ(kSettingsFlags[i].controlId, expected[i].id) << i;
        EXPECT_EQ(std::u16string(kSettingsFlags[i].valueName), expected[i].name) << i;
    }
}

TEST_F(SettingsTest, OnlyAnExactNameWithTheNumberOneChecksABox) {
    createSettingsKey();
    const std::u16string one = u"1";
    const unsigned char oneAsBinary[] = {1, 0, 0, 0, 9};
    const struct {
        const char16_t* name;
        uint32_t type;
        std::string data;
        int controlId;
        bool checked;
    } cases[] = {
        {u"CloseBrowsers", platform::kRegDword, std::string("\x01\0\0\0", 4), 1003, true},
        {u"SendStatistics", platform::kRegDword, std::string("\x02\0\0\0", 4), 1010, false},
        // Letter case counts for the dialog although the registry does not mind it.
        {u"checkupdates", platform::kRegDword, std::string("\x01\0\0\0", 4), 1014, false},
        // A string holding the digit 1 is not the number 1.
        {u"SmartExt", platform::kRegSz, std::string(reinterpret_cast<const char*>(one.c_str()), 4),
         1032, false},
        // The type is not looked at: four bytes of 1 in a binary value count.
        {u"ScanArchives", platform::kRegBinary,
         std::string(reinterpret_cast<const char*>(oneAsBinary), 5), 1011, true},
        {u"Startup", platform::kRegDword, std::string("\x01\0\0\0", 4), 1054, true},
        {u"Monitoring", platform::kRegDword, std::string("\x01\0\0\0", 4), 1052, true},
        {u"Deep", platform::kRegDword, std::string("\x00\0\0\0", 4), 1024, false},
    };
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::open(RegRoot::LocalMachine, names::kSettingsKey, key), 0u);
    for (const auto& c : cases) {
        ASSERT_EQ(key.setValue(c.name, c.type, c.data.data(), uint32_t(c.data.size())), 0u);
    }
    SettingsBoxes boxes;
    EXPECT_EQ(LoadSettingFromReg(boxes), 1);
    EXPECT_EQ(boxes.language, u"English");
    for (const auto& c : cases) {
        EXPECT_EQ(boxes.checked[indexOf(c.controlId)], c.checked) << platform::toUtf8(c.name);
    }
    // Loading never unchecks a box.
    SettingsBoxes preset;
    preset.checked[indexOf(1024)] = true;
    EXPECT_EQ(LoadSettingFromReg(preset), 1);
    EXPECT_TRUE(preset.checked[indexOf(1024)]);
}

TEST_F(SettingsTest, AValueTooLargeToEnumerateFailsTheLoadButTheRestIsRead) {
    createSettingsKey();
    const std::string big(4096, 'x');
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::open(RegRoot::LocalMachine, names::kSettingsKey, key), 0u);
    ASSERT_EQ(key.setValue(u"Blob", platform::kRegBinary, big.data(), uint32_t(big.size())), 0u);
    writeDword(u"Hidden", 1);
    SettingsBoxes boxes;
    EXPECT_EQ(LoadSettingFromReg(boxes), 0);
    EXPECT_TRUE(boxes.checked[indexOf(1009)]);
}

TEST_F(SettingsTest, SaveWritesEveryFlagAsZeroOrOneAndLeavesOtherValues) {
    createSettingsKey();
    writeDword(u"SendStatistics", 2);
    writeDword(u"Debug", 1);
    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, names::kSettingsKey, u"Other", u"x"),
              0u);
    SettingsBoxes boxes;
    EXPECT_EQ(LoadSettingFromReg(boxes), 1);
    EXPECT_FALSE(boxes.checked[indexOf(1010)]);
    boxes.checked[indexOf(1022)] = true;
    EXPECT_EQ(SaveSettingFromReg(boxes), 1);
    for (const SettingsFlag& flag : kSettingsFlags) {
        uint32_t value = 7, type = 0;
        ASSERT_EQ(readDword(flag.valueName, value, &type), 0u) << platform::toUtf8(flag.valueName);
        EXPECT_EQ(type, platform::kRegDword);
        EXPECT_EQ(value, flag.controlId == 1022 ? 1u : 0u) << platform::toUtf8(flag.valueName);
    }
    uint32_t debug = 0;
    ASSERT_EQ(readDword(u"Debug", debug), 0u);
    EXPECT_EQ(debug, 1u);
    std::u16string other;
    ASSERT_EQ(platform::readString(RegRoot::LocalMachine, names::kSettingsKey, u"Other", other),
              0u);
    EXPECT_EQ(other, u"x");
}

TEST_F(SettingsTest, SaveWritesInTheFixedOrder) {
    createSettingsKey();
    SettingsBoxes boxes;
    ASSERT_EQ(SaveSettingFromReg(boxes), 1);
    // A fresh key lists values in the order they were created.
    const std::string dump = settingsDump();
    size_t at = 0;
    for (const SettingsFlag& flag : kSettingsFlags) {
        const size_t found = dump.find(platform::toUtf8(flag.valueName) + " 4 00000000\n", at);
        ASSERT_NE(found, std::string::npos) << platform::toUtf8(flag.valueName);
        at = found;
    }
}

TEST_F(SettingsTest, NoKeyOpensAllUncheckedAndSavesNothing) {
    SettingsBoxes boxes;
    EXPECT_EQ(LoadSettingFromReg(boxes), 1);
    for (bool checked : boxes.checked) EXPECT_FALSE(checked);
    boxes.checked[0] = true;
    EXPECT_EQ(SaveSettingFromReg(boxes), 1);
    EXPECT_EQ(settingsDump(), "absent");
    EXPECT_NE(logText().find("In LoadSettingFromReg"), std::string::npos);
    EXPECT_NE(logText().find("In SaveSettingFromReg"), std::string::npos);
}

TEST_F(SettingsTest, DialogShowsTheBoxesTheLanguageAndTheHiddenGroup) {
    createSettingsKey();
    writeDword(u"CatchExt", 1);
    writeDword(u"ScanMBR", 2);
    SettingsDialog dialog;
    EXPECT_EQ(dialog.objectName(), "dialog140");
    for (const SettingsFlag& flag : kSettingsFlags) {
        QCheckBox* box = dialog.box(flag.controlId);
        ASSERT_NE(box, nullptr) << flag.controlId;
        EXPECT_EQ(box->text().toStdU16String(), flag.text);
    }
    EXPECT_TRUE(dialog.box(1029)->isChecked());
    EXPECT_FALSE(dialog.box(1022)->isChecked());
    auto* language = dialog.findChild<QComboBox*>("id1062");
    ASSERT_NE(language, nullptr);
    EXPECT_FALSE(language->isEnabled());
    EXPECT_EQ(language->currentText(), "English");
    dialog.show();
    QApplication::processEvents();
    EXPECT_FALSE(dialog.box(1029)->isVisible());
    EXPECT_FALSE(dialog.box(1052)->isVisible());
    EXPECT_TRUE(dialog.box(1003)->isVisible());
    for (int id : {1056, 1058}) {
        QCheckBox* box = dialog.box(id);
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->isEnabled());
    }
}

TEST_F(SettingsTest, SavePictureSavesAndEndsWith1050) {
    createSettingsKey();
    writeDword(u"ScanMBR", 2);
    writeDword(u"CatchExt", 1);
    SettingsDialog dialog;
    dialog.show();
    dialog.box(1003)->setChecked(true);
    dialog.findChild<QAbstractButton*>("id1050")->click();
    EXPECT_EQ(dialog.result(), 1050);
    EXPECT_FALSE(dialog.isVisible());
    uint32_t value = 9;
    ASSERT_EQ(readDword(u"ScanMBR", value), 0u);
    EXPECT_EQ(value, 0u);  // stored as 2, shown unchecked, saved as 0
    ASSERT_EQ(readDword(u"CatchExt", value), 0u);
    EXPECT_EQ(value, 1u);  // the hidden box keeps its value
    ASSERT_EQ(readDword(u"CloseBrowsers", value), 0u);
    EXPECT_EQ(value, 1u);
}

TEST_F(SettingsTest, ClosingWithoutSaveLeavesTheRegistryAndEscapeDoesNotClose) {
    createSettingsKey();
    writeDword(u"Deep", 1);
    const std::string before = settingsDump();
    {
        SettingsDialog dialog;
        dialog.show();
        dialog.box(1003)->setChecked(true);
        dialog.box(1024)->setChecked(false);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.onCommand(2, 0), 0);
        EXPECT_TRUE(dialog.isVisible());
        dialog.findChild<QAbstractButton*>("id1")->click();
        EXPECT_EQ(dialog.result(), 1);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        SettingsDialog dialog;
        dialog.show();
        dialog.box(1003)->setChecked(true);
        dialog.close();  // the window's close command
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), 0);
    }
    EXPECT_EQ(settingsDump(), before);
}

TEST_F(SettingsTest, OpensThroughPromptsAndLogsItsMessages) {
    ScriptedPrompts prompts;
    prompts.queueDialogHandler([](QDialog& dialog) {
        return static_cast<SettingsDialog&>(dialog).onCommand(1, 0) == 1 ? dialog.result() : -1;
    });
    EXPECT_EQ(Settings(nullptr), 1);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, u"dialog140");
    EXPECT_NE(logText().find("In Settings"), std::string::npos);
}

}  // namespace
