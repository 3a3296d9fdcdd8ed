// Drive letters the registry adds or overrides: REG_SZ values named
// "\DosDevices\X:" under HKLM\SYSTEM\MountedDevices, each a host folder.

#include <cstring>
#include <vector>

#include "platform/error.h"
#include "platform/linux/drive_map_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform::detail {

namespace {

constexpr char16_t kMountedDevicesKey[] = u"SYSTEM\\MountedDevices";
constexpr std::u16string_view kDosDevicesPrefix = u"\\DosDevices\\";

// The letter of a "\DosDevices\X:" value name; 0 for any other name.
char16_t letterOfValueName(std::u16string_view name) {
    if (name.size() != kDosDevicesPrefix.size() + 2 ||
        !equalsIgnoreCase(name.substr(0, kDosDevicesPrefix.size()), kDosDevicesPrefix) ||
        name.back() != u':') {
        return 0;
    }
    char16_t letter = toUpper16(name[kDosDevicesPrefix.size()]);
    return letter >= u'A' && letter <= u'Z' ? letter : 0;
}

}  // namespace

std::vector<std::pair<char16_t, std::string>> registryDriveOverrides() {
    std::vector<std::pair<char16_t, std::string>> out;
    RegKey key;
    if (RegKey::open(RegRoot::LocalMachine, kMountedDevicesKey, key) != 0) return out;
    std::vector<char> data(1024);
    for (uint32_t index = 0;;) {
        char16_t name[256];
        uint32_t nameLength = 256, type = 0, size = static_cast<uint32_t>(data.size());
        uint32_t rc = key.enumValue(index, name, &nameLength, &type, data.data(), &size);
        if (rc == kErrorMoreData && size > data.size() && size <= (1u << 20)) {
            data.resize(size);  // the same value again with room for its data
            continue;
        }
        ++index;
        if (rc == kErrorMoreData) continue;  // a name too long for a drive value
        if (rc != 0) break;
        char16_t letter = letterOfValueName(std::u16string_view(name, nameLength));
        if (!letter || type != kRegSz) continue;
        std::u16string text(size / 2, 0);
        std::memcpy(text.data(), data.data(), text.size() * 2);
        while (!text.empty() && text.back() == 0) text.pop_back();
        out.emplace_back(letter, windowsNameToHost(text));
    }
    return out;
}


}  // namespace platform::detail
