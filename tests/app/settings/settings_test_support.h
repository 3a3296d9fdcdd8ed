// The settings tests' fixture: a private registry file and application log
// in a temporary folder, the Settings key helpers.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "app/shell/shell_test_support.h"

class SettingsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void createSettingsKey();
    void writeDword(const std::u16string& name, uint32_t value);
    // 0 and the number, or the status code; type too.
    uint32_t readDword(const std::u16string& name, uint32_t& value, uint32_t* type = nullptr);
    // Every value of the Settings key as "name type hexdata" lines, to see
    // that nothing was written; "absent" without the key.
    std::string settingsDump();
    // What the application log holds now, as UTF-8.
    std::string logText();

    TempFolder folder;
};
