// The registry location scan: the values of the classic autostart and
// registration keys that name a program file, each file checked with the
// registry place it was found at.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/threat_scan.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

// Twenty keys; the list ends at its first entry of 2 characters or fewer.
const char16_t* const kRegistryLocations[] = {
    u"Software",
    u"Software\\Wow6432Node",
    u"SOFTWARE\\Microsoft\\Shared Tools",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Shared Tools",
    u"Software\\Classes",
    u"Software\\Classes\\CLSID",
    u"SOFTWARE\\Wow6432Node\\Classes",
    u"SOFTWARE\\Wow6432Node\\Classes\\CLSID",
    u"SYSTEM\\CurrentControlSet\\Control\\Class",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32",
    u"SOFTWARE\\Microsoft\\Shared Tools\\MSConfig\\startupfolder",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    u"",
};

constexpr uint32_t kNameUnits = 1024;
constexpr uint32_t kDataBytes = 1024;
constexpr size_t kResultUnits = 1024;

// The four passes: the current user's hive and the machine's, each in the
// 32-bit and the 64-bit view (the views coincide here, so each key is read
// twice; a file found twice is reported once by the infection table).
struct Pass {
    platform::RegRoot root;
    const char16_t* locationFormat;
};
const Pass kPasses[] = {
    {platform::RegRoot::CurrentUser, u"DoScanRegistryLocations: HKEY_CURRENT_USER\\%s\\%s"},
    {platform::RegRoot::CurrentUser, u"DoScanRegistryLocations: HKEY_CURRENT_USER\\%s\\%s"},
    {platform::RegRoot::LocalMachine, u"DoScanRegistryLocations: HKEY_LOCAL_MACHINE\\%s\\%s"},
    {platform::RegRoot::LocalMachine, u" DoScanRegistryLocations: HKEY_LOCAL_MACHINE\\%s\\%s"},
};

bool contains(const char16_t* text, const char16_t* part) {
    return std::u16string_view(text).find(part) != std::u16string_view::npos;
}

void scanKey(const Pass& pass, const char16_t* keyPath) {
    // The data is read as a UTF-16 string whatever its type; the two spare
    // units end it even when the value fills all 1024 bytes.
    char16_t name[kNameUnits] = {};
    char16_t data[kDataBytes / 2 + 2] = {};
    int32_t count = 0;
    uint32_t lastError = 0;
    platform::RegKey key;
    lastError = platform::RegKey::open(pass.root, keyPath, key);
    if (lastError == 0) {
        for (uint32_t index = 0;; ++index) {
            std::memset(name, 0, sizeof name);
            std::memset(data, 0, sizeof data);
            uint32_t nameLength = kNameUnits;
            uint32_t dataSize = kDataBytes;
            uint32_t type = 0;
            // Anything but success ends the key: no more values, or a name or
            // data too large for the buffers.
            lastError = key.enumValue(index, name, &nameLength, &type, data, &dataSize);
            if (lastError != 0) break;
            ++count;
            std::unique_ptr<char16_t[]> path = ConvertRegToStr(data);
            if (!path) continue;
            std::u16string location = platform::format16(pass.locationFormat, keyPath, name);
            SendOVMsg(SCANMSG_DEBUG, u"%s", location.c_str());
            __ScanFile(path.get(), location.c_str());
        }
        key.close();
    }
    SendOVMsg(SCANMSG_DEBUG, u" %s Count: %d Last Error: %d\n\r", keyPath, count,
              static_cast<int>(lastError));
}

}  // namespace

int32_t DoScanRegistryLocations() {
    SendOVMsg(SCANMSG_DEBUG, u"----------------------------> DoScanRegistryLocations Start");
    for (const Pass& pass : kPasses) {
        for (size_t i = 0; platform::length16(kRegistryLocations[i]) > 2; ++i) {
            scanKey(pass, kRegistryLocations[i]);
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u" DoScanRegistryLocations End <----------------------------");
    return 1;
}

std::unique_ptr<char16_t[]> ConvertRegToStr(const char16_t* data) {
    SendOVMsg(SCANMSG_DEBUG, u" ConvertRegToStr: %s", data);
    std::unique_ptr<char16_t[]> result(new (std::nothrow) char16_t[kResultUnits]());
    std::unique_ptr<char16_t[]> work(new (std::nothrow) char16_t[kResultUnits]());
    if (!result || !work || data == nullptr) return nullptr;
    for (size_t i = 0; i + 1 < kResultUnits && data[i] != u'\0'; ++i) {
        result[i] = work[i] = platform::toLower16(data[i]);
    }
    // A path, or a program in a folder of its own.
    for (const char16_t* marker : {u"system32", u"program", u"c:\\", u"d:\\"}) {
        if (contains(work.get(), marker)) return result;
    }
    // A bare file name of a program lives in the system folder.
    for (const char16_t* extension : {u".dll", u".exe", u".acm", u".drv", u".ocx", u".sys"}) {
        if (contains(work.get(), extension)) {
            std::u16string full = u"c:\\windows\\system32\\";
            full += work.get();
            if (full.size() > 259) full.resize(259);
            std::memset(result.get(), 0, kResultUnits * sizeof(char16_t));
            platform::copy16(result.get(), kResultUnits, full);
            return result;
        }
    }
    return nullptr;
}
