// The registry location scan: the values of the classic autostart and
// registration keys that name a program file, each file checked with the
// registry place it was found at.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/threat_scan.h"
#include "platform/error.h"
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

// Whether a (lower-cased) text holds a drive path: a letter, ":" and "\".
bool holdsDrivePath(std::u16string_view text) {
    for (size_t at = text.find(u":\\"); at != std::u16string_view::npos;
         at = text.find(u":\\", at + 1)) {
        if (at > 0 && text[at - 1] >= u'a' && text[at - 1] <= u'z') return true;
    }
    return false;
}

// Registry limits: a value name has at most 16383 characters; data beyond
// this size names no program and is not read.
constexpr uint32_t kLargestName = 16384;
constexpr uint32_t kLargestData = 1u << 20;

// A value that did not fit the buffers, read with buffers of its own size:
// a long value must not hide the values behind it. 0 and the name and data
// (as a UTF-16 string, ended even when the data is not); else the error.
uint32_t readLargeValue(const platform::RegKey& key, uint32_t index, std::u16string& name,
                        std::vector<char16_t>& data) {
    uint32_t nameLength = 0;
    uint32_t dataSize = 0;
    uint32_t type = 0;
    std::vector<char16_t> nameBuffer(kLargestName);
    nameLength = kLargestName;
    // First the sizes, then the value itself.
    uint32_t rc = key.enumValue(index, nameBuffer.data(), &nameLength, &type, nullptr, &dataSize);
    if (rc != 0) return rc;
    if (dataSize > kLargestData) return platform::kErrorMoreData;
    data.assign(dataSize / 2 + 2, u'\0');
    nameLength = kLargestName;
    rc = key.enumValue(index, nameBuffer.data(), &nameLength, &type, data.data(), &dataSize);
    if (rc != 0) return rc;
    name.assign(nameBuffer.data(), nameLength);
    return 0;
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
            lastError = key.enumValue(index, name, &nameLength, &type, data, &dataSize);
            const char16_t* valueName = name;
            const char16_t* valueData = data;
            std::u16string largeName;
            std::vector<char16_t> largeData;
            if (lastError == platform::kErrorMoreData) {
                // A name or data too large for the buffers is read with
                // buffers of its size; one that cannot be read is passed by,
                // and the key's next value is read all the same.
                lastError = readLargeValue(key, index, largeName, largeData);
                if (lastError != 0) {
                    SendOVMsg(SCANMSG_DEBUG, u" %s value %d not read, err %d, next value", keyPath,
                              static_cast<int>(index), static_cast<int>(lastError));
                    continue;
                }
                SendOVMsg(SCANMSG_DEBUG, u" %s value %d read with buffers of its size", keyPath,
                          static_cast<int>(index));
                valueName = largeName.c_str();
                valueData = largeData.data();
            }
            // Anything else but success ends the key: there are no more values.
            if (lastError != 0) break;
            ++count;
            std::unique_ptr<char16_t[]> path = ConvertRegToStr(valueData);
            if (!path) continue;
            std::u16string location = platform::format16(pass.locationFormat, keyPath, valueName);
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
    // At least 1024 units, and room for the whole text of a longer value: a
    // path cut short would name another file, or none.
    const size_t units = data ? std::max(kResultUnits, platform::length16(data) + 1) : kResultUnits;
    std::unique_ptr<char16_t[]> result(new (std::nothrow) char16_t[units]());
    std::unique_ptr<char16_t[]> work(new (std::nothrow) char16_t[units]());
    if (!result || !work || data == nullptr) return nullptr;
    for (size_t i = 0; i + 1 < units && data[i] != u'\0'; ++i) {
        result[i] = work[i] = platform::toLower16(data[i]);
    }
    // A path, or a program in a folder of its own.
    for (const char16_t* marker : {u"system32", u"program", u"c:\\", u"d:\\"}) {
        if (contains(work.get(), marker)) return result;
    }
    // A path on any other drive is taken as it is, not put in the system
    // folder.
    if (holdsDrivePath(work.get())) return result;
    // A bare file name of a program lives in the system folder.
    for (const char16_t* extension : {u".dll", u".exe", u".acm", u".drv", u".ocx", u".sys"}) {
        if (contains(work.get(), extension)) {
            std::u16string full = u"c:\\windows\\system32\\";
            full += work.get();
            if (full.size() > 259) full.resize(259);
            std::memset(result.get(), 0, units * sizeof(char16_t));
            platform::copy16(result.get(), units, full);
            return result;
        }
    }
    return nullptr;
}
