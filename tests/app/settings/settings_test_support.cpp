#include "settings_test_support.h"

#include <cstdlib>

#include "app/shell/app_log.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

void SettingsRegistryTest::SetUp() {
    setenv("ORVANE_REGISTRY", (folder.path() / "registry.db").c_str(), 1);
    platform::resetRegistryConnection();
    gAppLog.Reset();
    ASSERT_EQ(gAppLog.Open(folder.windows("app.log").c_str()), 0);
}

void SettingsRegistryTest::TearDown() {
    gAppLog.Reset();
    platform::resetRegistryConnection();
    unsetenv("ORVANE_REGISTRY");
}

void SettingsRegistryTest::createSettingsKey() {
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey, key),
              0u);
}

void SettingsRegistryTest::writeDword(const std::u16string& name, uint32_t value) {
    ASSERT_EQ(
        platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value),
        0u);
}

uint32_t SettingsRegistryTest::readDword(const std::u16string& name, uint32_t& value,
                                         uint32_t* type) {
    platform::RegKey key;
    uint32_t rc = platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key);
    if (rc != 0) return rc;
    value = 0;
    uint32_t size = sizeof value;
    return key.queryValue(name, type, &value, &size);
}

std::string SettingsRegistryTest::settingsDump() {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key) != 0) {
        return "absent";
    }
    std::string out;
    for (uint32_t index = 0;; ++index) {
        char16_t name[2048];
        uint32_t nameLength = 2048;
        unsigned char data[2048];
        uint32_t dataSize = sizeof data;
        uint32_t type = 0;
        if (key.enumValue(index, name, &nameLength, &type, data, &dataSize) != 0) break;
        out += platform::toUtf8(std::u16string_view(name, nameLength)) + " " +
               std::to_string(type) + " ";
        static const char kHex[] = "0123456789abcdef";
        for (uint32_t i = 0; i < dataSize; ++i) {
            out += kHex[data[i] >> 4];
            out += kHex[data[i] & 15];
        }
        out += "\n";
    }
    return out;
}

std::string SettingsRegistryTest::logText() {
    const std::string bytes = readBytes(folder.path() / "app.log");
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return platform::toUtf8(units);
}
