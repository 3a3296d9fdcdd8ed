// Registry values hold whatever bytes a program (or a hand-edited registry
// file) stored, with any type. Reading them back must never fault: the
// first byte is the type (0xFF: the next four bytes are the type), the rest
// the data. The value is stored in a private registry file and read with
// queryValue, enumValue, readString and readDword; ovreg shows it as reg
// query and the .reg export do; as a MountedDevices value it feeds the
// drive map.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/linux/drive_map_internal.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/ovreg/reg_export.h"
#include "tools/ovreg/value_text.h"

namespace {

namespace fs = std::filesystem;

fs::path g_folder;
constexpr std::u16string_view kKey = u"SOFTWARE\\Fuzz";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A memory file system when there is one: the registry syncs every write.
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    g_folder = base / ("fuzz_registry_value." + std::to_string(::getpid()));
    fs::create_directories(g_folder);
    platform::setRegistryFilePath((g_folder / "registry.db").string());
    std::atexit([] {
        platform::resetRegistryConnection();
        std::error_code ignored;
        fs::remove_all(g_folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint32_t type = data[0];
    size_t skip = 1;
    if (type == 0xFF && size >= 5) {
        std::memcpy(&type, data + 1, 4);
        skip = 5;
    }
    const std::string bytes(reinterpret_cast<const char*>(data + skip), size - skip);
    using platform::RegRoot;

    platform::RegKey key;
    if (platform::RegKey::create(RegRoot::LocalMachine, kKey, key) != 0) abort();
    if (key.setValue(u"v", type, bytes.data(), static_cast<uint32_t>(bytes.size())) != 0) abort();

    // queryValue: the size question, a too-small buffer, the exact buffer.
    uint32_t storedType = 0, needed = 0;
    if (key.queryValue(u"v", &storedType, nullptr, &needed) != 0) abort();
    if (storedType != type || needed != bytes.size()) abort();
    std::string back(bytes.size(), '\0');
    if (!bytes.empty()) {
        uint32_t small = needed - 1;
        if (key.queryValue(u"v", nullptr, back.data(), &small) != 234 || small != needed) abort();
    }
    uint32_t exact = needed;
    if (key.queryValue(u"v", nullptr, back.data(), &exact) != 0 || back != bytes) abort();

    char16_t name[4];
    uint32_t nameLength = 4, enumType = 0, enumSize = 0;
    if (key.enumValue(0, name, &nameLength, &enumType, nullptr, &enumSize) != 0) abort();
    if (nameLength != 1 || enumType != type || enumSize != bytes.size()) abort();

    std::u16string text;
    uint32_t status = platform::readString(RegRoot::LocalMachine, kKey, u"v", text);
    if (status == 0 && text.find(u'\0') != std::u16string::npos) abort();
    uint32_t number = 0;
    (void)platform::readDword(RegRoot::LocalMachine, kKey, u"v", number);

    (void)ovreg::displayData(type, bytes);
    (void)ovreg::textOf(bytes);
    std::u16string exported;
    if (ovreg::exportKey(RegRoot::LocalMachine, std::u16string(kKey), u"HKEY_LOCAL_MACHINE\\x",
                         exported) != 0)
        abort();
    (void)ovreg::regFileBytes(exported);

    // The same bytes as a drive override in MountedDevices.
    platform::RegKey devices;
    if (platform::RegKey::create(RegRoot::LocalMachine, u"SYSTEM\\MountedDevices", devices) != 0 ||
        devices.setValue(u"\\DosDevices\\Q:", type, bytes.data(),
                         static_cast<uint32_t>(bytes.size())) != 0)
        abort();
    for (const platform::DriveMapping& drive : platform::detail::currentDriveMap())
        if (drive.hostRoot.empty() || drive.hostRoot[0] != '/') abort();
    return 0;
}
