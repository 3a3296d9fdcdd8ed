#include "platform/registry.h"
#include "platform/coarse_clock.h"

#include <unistd.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/linux/autostart.h"
#include "platform/linux/registry_store.h"
#include "platform/text.h"

namespace platform {

namespace {

using regstore::KeyPlace;

// "\a\\b\" -> "a\b": empty components are dropped.
std::u16string normalise(std::u16string_view subKey) {
    std::u16string out;
    size_t start = 0;
    while (start <= subKey.size()) {
        size_t end = subKey.find(u'\\', start);
        if (end == std::u16string_view::npos) end = subKey.size();
        if (end > start) {
            if (!out.empty()) out += u'\\';
            out.append(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

std::u16string joinKey(std::u16string_view base, const std::u16string& sub) {
    std::u16string out(base);
    if (!sub.empty()) {
        out += u'\\';
        out += sub;
    }
    return out;
}

// Where a key of a root lives: HKCU is HKU\<uid>, HKCR is
// HKLM\SOFTWARE\Classes.
KeyPlace placeOf(RegRoot root, const std::u16string& sub) {
    switch (root) {
        case RegRoot::LocalMachine:
            return {regstore::kHiveLocalMachine, sub};
        case RegRoot::Users:
            return {regstore::kHiveUsers, sub};
        case RegRoot::CurrentConfig:
            return {regstore::kHiveCurrentConfig, sub};
        case RegRoot::CurrentUser:
            return {regstore::kHiveUsers, joinKey(ascii16(std::to_string(getuid())), sub)};
        case RegRoot::ClassesRoot:
            return {regstore::kHiveLocalMachine, joinKey(u"SOFTWARE\\Classes", sub)};
    }
    return {regstore::kHiveLocalMachine, sub};
}

struct RootNames {
    RegRoot root;
    std::u16string_view shortName;
    std::u16string_view longName;
};

constexpr std::array<RootNames, 5> kRoots = {{
    {RegRoot::LocalMachine, u"HKLM", u"HKEY_LOCAL_MACHINE"},
    {RegRoot::CurrentUser, u"HKCU", u"HKEY_CURRENT_USER"},
    {RegRoot::Users, u"HKU", u"HKEY_USERS"},
    {RegRoot::ClassesRoot, u"HKCR", u"HKEY_CLASSES_ROOT"},
    {RegRoot::CurrentConfig, u"HKCC", u"HKEY_CURRENT_CONFIG"},
}};

std::string utf16leBytes(std::u16string_view text, bool terminate) {
    std::string out;
    out.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    if (terminate) out.append(2, '\0');
    return out;
}

std::string installRootOfExecutable() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return ".";
    std::string exe(buffer, size_t(n));
    size_t slash = exe.rfind('/');
    std::string folder = slash == std::string::npos || slash == 0 ? "/" : exe.substr(0, slash);
    if (folder == "/") return "/";
    slash = folder.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : folder.substr(0, slash);
}

}  // namespace

uint32_t RegKey::open(RegRoot root, std::u16string_view subKey, RegKey& out) {
    out = RegKey();
    std::u16string sub = normalise(subKey);
    // The roots themselves always exist, as on Windows.
    if (!sub.empty()) {
        uint32_t rc = regstore::keyExists(placeOf(root, sub));
        if (rc != 0) {
            setLastError(rc);
            return rc;
        }
    }
    out.m_root = root;
    out.m_path = std::move(sub);
    out.m_open = true;
    return kErrorSuccess;
}

uint32_t RegKey::create(RegRoot root, std::u16string_view subKey, RegKey& out) {
    out = RegKey();
    std::u16string sub = normalise(subKey);
    uint32_t rc = regstore::createKey(placeOf(root, sub));
    if (rc != 0) {
        setLastError(rc);
        return rc;
    }
    out.m_root = root;
    out.m_path = std::move(sub);
    out.m_open = true;
    return kErrorSuccess;
}

uint32_t RegKey::queryValue(std::u16string_view name, uint32_t* type, void* data,
                            uint32_t* size) const {
    if (!m_open) return kErrorInvalidHandle;
    if (data && !size) return kErrorInvalidParameter;
    regstore::Value value;
    uint32_t rc = regstore::getValue(placeOf(m_root, m_path), name, value);
    if (rc != 0) return rc;
    if (type) *type = value.type;
    if (!size) return kErrorSuccess;
    uint32_t needed = uint32_t(value.data.size());
    if (data && *size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    if (data && needed) std::memcpy(data, value.data.data(), needed);
    *size = needed;
    return kErrorSuccess;
}

uint32_t RegKey::setValue(std::u16string_view name, uint32_t type, const void* data,
                          uint32_t size) const {
    if (!m_open) return kErrorInvalidHandle;
    if (!data && size) return kErrorInvalidParameter;
    std::string_view bytes(static_cast<const char*>(data), data ? size : 0);
    // A root stands even before anything was written under it.
    const uint32_t rc =
        regstore::setValue(placeOf(m_root, m_path), name, type, bytes, m_path.empty());
    if (rc == 0) detail::reflectRunValueWritten(m_root, m_path, name, type, bytes);
    return rc;
}

uint32_t RegKey::deleteValue(std::u16string_view name) const {
    if (!m_open) return kErrorInvalidHandle;
    const uint32_t rc = regstore::deleteValue(placeOf(m_root, m_path), name);
    if (rc == 0) detail::reflectRunValueDeleted(m_root, m_path, name);
    return rc;
}

uint32_t RegKey::enumValue(uint32_t index, char16_t* name, uint32_t* nameLength, uint32_t* type,
                           void* data, uint32_t* dataSize) const {
    if (!m_open) return kErrorInvalidHandle;
    if (!name || !nameLength || (data && !dataSize)) return kErrorInvalidParameter;
    regstore::ValueList values;
    uint32_t rc = regstore::listValues(placeOf(m_root, m_path), values);
    if (rc == kErrorFileNotFound && m_path.empty()) return kErrorNoMoreItems;
    if (rc != 0) return rc;
    if (index >= values->size()) return kErrorNoMoreItems;
    const regstore::Value& value = (*values)[index];
    if (value.name.size() + 1 > *nameLength) return kErrorMoreData;
    std::memcpy(name, value.name.data(), value.name.size() * sizeof(char16_t));
    name[value.name.size()] = u'\0';
    *nameLength = uint32_t(value.name.size());
    if (type) *type = value.type;
    if (!dataSize) return kErrorSuccess;
    uint32_t needed = uint32_t(value.data.size());
    if (data && *dataSize < needed) {
        *dataSize = needed;
        return kErrorMoreData;
    }
    if (data && needed) std::memcpy(data, value.data.data(), needed);
    *dataSize = needed;
    return kErrorSuccess;
}

uint32_t RegKey::valueCount(uint32_t& count) const {
    count = 0;
    if (!m_open) return kErrorInvalidHandle;
    regstore::ValueList values;
    uint32_t rc = regstore::listValues(placeOf(m_root, m_path), values);
    if (rc == kErrorFileNotFound && m_path.empty()) return kErrorSuccess;
    if (rc != 0) return rc;
    count = uint32_t(values->size());
    return kErrorSuccess;
}

uint32_t RegKey::enumKey(uint32_t index, std::u16string& name) const {
    if (!m_open) return kErrorInvalidHandle;
    regstore::NameList names;
    uint32_t rc = regstore::listSubKeys(placeOf(m_root, m_path), names);
    if (rc == kErrorFileNotFound && m_path.empty()) return kErrorNoMoreItems;
    if (rc != 0) return rc;
    if (index >= names->size()) return kErrorNoMoreItems;
    name = (*names)[index];
    return kErrorSuccess;
}

uint32_t deleteKey(RegRoot root, std::u16string_view subKey) {
    std::u16string sub = normalise(subKey);
    if (sub.empty()) return kErrorAccessDenied;
    const std::vector<std::u16string> runValues = detail::runValuesBelow(root, sub);
    const uint32_t rc = regstore::deleteKey(placeOf(root, sub), false);
    if (rc == 0) detail::reflectRunValuesDeleted(root, runValues);
    return rc;
}

uint32_t deleteTree(RegRoot root, std::u16string_view subKey) {
    std::u16string sub = normalise(subKey);
    if (sub.empty()) return kErrorAccessDenied;
    const std::vector<std::u16string> runValues = detail::runValuesBelow(root, sub);
    const uint32_t rc = regstore::deleteKey(placeOf(root, sub), true);
    if (rc == 0) detail::reflectRunValuesDeleted(root, runValues);
    return rc;
}

bool parseKeyPath(std::u16string_view fullPath, RegRoot& root, std::u16string& subKey) {
    size_t slash = fullPath.find(u'\\');
    std::u16string_view head = fullPath.substr(0, slash);
    for (const auto& r : kRoots) {
        if (equalsIgnoreCase(head, r.shortName) || equalsIgnoreCase(head, r.longName)) {
            root = r.root;
            subKey = slash == std::u16string_view::npos ? std::u16string()
                                                        : normalise(fullPath.substr(slash + 1));
            return true;
        }
    }
    return false;
}

std::u16string rootName(RegRoot root, bool longForm) {
    for (const auto& r : kRoots)
        if (r.root == root) return std::u16string(longForm ? r.longName : r.shortName);
    return {};
}

uint32_t writeString(RegRoot root, std::u16string_view subKey, std::u16string_view name,
                     std::u16string_view value, uint32_t type) {
    RegKey key;
    uint32_t rc = RegKey::create(root, subKey, key);
    if (rc != 0) return rc;
    std::string bytes = utf16leBytes(value, true);
    return key.setValue(name, type, bytes.data(), uint32_t(bytes.size()));
}

uint32_t readString(RegRoot root, std::u16string_view subKey, std::u16string_view name,
                    std::u16string& value) {
    regstore::Value stored;
    uint32_t rc = regstore::getValue(placeOf(root, normalise(subKey)), name, stored);
    if (rc != 0) return rc;
    if (stored.type != kRegSz && stored.type != kRegExpandSz) return kErrorInvalidData;
    value.clear();
    for (size_t i = 0; i + 1 < stored.data.size(); i += 2) {
        char16_t c = char16_t(uint8_t(stored.data[i]) | (uint8_t(stored.data[i + 1]) << 8));
        if (c == 0) break;
        value += c;
    }
    return kErrorSuccess;
}

uint32_t writeDword(RegRoot root, std::u16string_view subKey, std::u16string_view name,
                    uint32_t value) {
    RegKey key;
    uint32_t rc = RegKey::create(root, subKey, key);
    if (rc != 0) return rc;
    const unsigned char bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                    uint8_t(value >> 24)};
    return key.setValue(name, kRegDword, bytes, 4);
}

uint32_t readDword(RegRoot root, std::u16string_view subKey, std::u16string_view name,
                   uint32_t& value) {
    regstore::Value stored;
    uint32_t rc = regstore::getValue(placeOf(root, normalise(subKey)), name, stored);
    if (rc != 0) return rc;
    // Like a read into a 4-byte buffer: the type is not looked at.
    if (stored.data.size() > 4) return kErrorMoreData;
    if (stored.data.size() < 4) return kErrorInvalidData;
    const auto* p = reinterpret_cast<const unsigned char*>(stored.data.data());
    value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return kErrorSuccess;
}

namespace {
// The registry beside the installation the executable belongs to; the
// executable does not move while the process runs.
const std::string& registryOfExecutable() {
    static const std::string path = [] {
        std::string root = installRootOfExecutable();
        return root == "/" ? std::string("/registry.db") : root + "/registry.db";
    }();
    return path;
}

// getenv("ORVANE_REGISTRY") without a search of the environment while it
// has not changed: the value is asked for at every cached registry read.
// The C library never changes an entry's text in place; it replaces the
// entry's pointer, appends new entries at the end and moves later entries
// down on removal. So the same array, the same entry pointer at the same
// index (or, while the variable is absent, the same count and the same last
// entry) mean the same value.
const char* registryVariable() {
    constexpr std::string_view kName = "ORVANE_REGISTRY=";
    struct Seen {
        char** array = nullptr;
        bool valid = false;
        long index = -1;  // of the entry; -1 when absent
        char* entry = nullptr;
        size_t count = 0;
        char* last = nullptr;
    };
    thread_local Seen seen;
    char** env = environ;
    if (seen.valid && env == seen.array && env) {
        if (seen.index >= 0 && env[seen.index] == seen.entry) return seen.entry + kName.size();
        if (seen.index < 0 && (seen.count == 0 || env[seen.count - 1] == seen.last) &&
            env[seen.count] == nullptr)
            return nullptr;
    }
    seen = Seen{};
    seen.array = env;
    seen.valid = env != nullptr;
    for (size_t i = 0; env && env[i]; ++i) {
        if (seen.index < 0 && std::strncmp(env[i], kName.data(), kName.size()) == 0) {
            seen.index = static_cast<long>(i);
            seen.entry = env[i];
        }
        seen.count = i + 1;
        seen.last = env[i];
    }
    return seen.index >= 0 ? seen.entry + kName.size() : nullptr;
}

}  // namespace

std::string registryFilePath() {
    const char* env = registryVariable();
    if (env && *env) return env;
    return registryOfExecutable();
}

bool isRegistryFilePath(const std::string& path) {
    const char* env = registryVariable();
    if (env && *env) return path == env;
    return path == registryOfExecutable();
}

void setRegistryFilePath(const std::string& path) {
    if (path.empty())
        unsetenv("ORVANE_REGISTRY");
    else
        setenv("ORVANE_REGISTRY", path.c_str(), 1);
    regstore::reset();
}

uint32_t checkRegistryIntegrity() { return regstore::integrityCheck(); }

void resetRegistryConnection() { regstore::reset(); }

void setRegistryBusyTimeout(uint32_t milliseconds) { regstore::setBusyTimeout(milliseconds); }

void resetRegistryBusyTimeout() { regstore::resetBusyTimeout(); }

uint64_t registryChangeCount() { return regstore::changeCount(); }

bool RegistryChangeGate::mayHaveChanged() {
    // This process's own writes are seen at once.
    const uint64_t local = regstore::localChangeCount();
    if (m_looked && local == m_localChanges && ++m_callsSinceClock < m_callsPerClockLook)
        return false;
    m_callsSinceClock = 0;
    const int64_t nowMs = coarseMonotonicMs();
    if (m_looked && nowMs < m_nextLookMs && local == m_localChanges) return false;
    m_localChanges = local;
    m_nextLookMs = nowMs + kRecheckMs;
    const uint64_t changes = registryChangeCount();
    const bool moved = !m_looked || changes != m_changes;
    m_looked = true;
    m_changes = changes;
    return moved;
}

}  // namespace platform
