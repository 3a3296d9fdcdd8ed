#include "app/settings/settings_store.h"

#include <cstring>

#include "app/shell/app_log.h"
#include "common/registry_names.h"
#include "platform/registry.h"

const std::array<SettingsFlag, kSettingsFlagCount> kSettingsFlags = {{
    {1003, names::kCloseBrowsers, u"Close Browsers Before Scanning."},
    {1010, names::kSendStatistics, u"Provide Anonymously Statistics Data."},
    {1014, names::kCheckUpdates, u"Check For Updates On Startup."},
    {1034, names::kIgnoreLarageFiles, u"Ignore Files Larger Then 5MB (Recommended)."},
    {1032, names::kSmartExt, u"Smart File Extension Scan (dll,exe,ocx,com)."},
    {1011, names::kScanArchives, u"Scan Inside Archive Files."},
    {1023, names::kScanStartup, u"Scan Start Up Locations."},
    {1016, names::kScanSrvDrv, u"Scan Services and Drivers."},
    {1018, names::kScanPageFile, u"Scan Page File."},
    {1022, names::kScanMBR, u"Scan MBR /Boot Partition."},
    {1020, names::kScanSysRestore, u"Scan System Restore Location."},
    {1029, names::kCatchExt, u"Activate New Device Monitor."},
    {1024, names::kDeep, u"Go Deep Scan."},
    {1009, names::kHidden, u"Scan Hidden Process."},
    {1027, names::kScanFav, u"Scan Your Favorite Websites."},
    {1052, names::kMonitoring, u"Activate Registry Monitoring."},
    {1054, names::kStartup, u"Start Orvane Anti-Malware With Windows."},
}};

namespace {

constexpr uint32_t kNameUnits = 2048;
constexpr uint32_t kDataBytes = 2048;

}  // namespace

bool* SettingsBoxes::box(int32_t controlId) {
    for (size_t i = 0; i < kSettingsFlags.size(); ++i) {
        if (kSettingsFlags[i].controlId == controlId) return &checked[i];
    }
    return nullptr;
}

const bool* SettingsBoxes::box(int32_t controlId) const {
    return const_cast<SettingsBoxes*>(this)->box(controlId);
}

int32_t LoadSettingFromReg(SettingsBoxes& boxes) {
    LogEntry(u"LoadSettingFromReg");
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key) != 0) {
        return 1;
    }
    int32_t result = 1;
    uint32_t count = 0;
    if (key.valueCount(count) != 0) count = 0;
    for (uint32_t index = 0; index < count; ++index) {
        char16_t name[kNameUnits] = {};
        unsigned char data[kDataBytes] = {};
        uint32_t nameLength = kNameUnits;
        uint32_t dataSize = kDataBytes;
        uint32_t type = 0;
        if (key.enumValue(index, name, &nameLength, &type, data, &dataSize) != 0) {
            result = 0;
            continue;
        }
        const std::u16string_view found(name, nameLength);
        for (size_t i = 0; i < kSettingsFlags.size(); ++i) {
            if (found != kSettingsFlags[i].valueName) continue;
            // The type is not looked at: the first four bytes decide.
            uint32_t number = 0;
            std::memcpy(&number, data, sizeof number);
            if (number == 1) boxes.checked[i] = true;
        }
    }
    boxes.language = kSettingsLanguage;
    key.close();
    return result;
}

int32_t SaveSettingFromReg(const SettingsBoxes& boxes) {
    LogEntry(u"SaveSettingFromReg");
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key) != 0) {
        return 1;
    }
    int32_t result = 1;
    for (size_t i = 0; i < kSettingsFlags.size(); ++i) {
        const uint32_t value = boxes.checked[i] ? 1 : 0;
        if (key.setValue(kSettingsFlags[i].valueName, platform::kRegDword, &value, sizeof value) !=
            0) {
            result = 0;
        }
    }
    key.close();
    return result;
}
