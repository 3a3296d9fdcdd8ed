// The service control manager: service records in the registry, the host's
// systemd units beside them, and the caller-buffer layouts of the
// enumeration and of a configuration.
#include "platform/scm.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/error.h"
#include "platform/linux/scm_internal.h"
#include "platform/linux/service_runtime.h"
#include "platform/linux/systemd_units.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr char16_t kServicesKey[] = u"SYSTEM\\CurrentControlSet\\Services";
constexpr uint32_t kReadControl = 0x20000;

// Manager rights any account has; the others need an administrator.
constexpr uint32_t kManagerReadRights =
    kScManagerConnect | kScManagerEnumerateService | kScManagerQueryLockStatus | kReadControl;
// Service rights that only look; the others change the service.
constexpr uint32_t kServiceReadRights = kServiceQueryConfig | kServiceQueryStatus |
                                        kServiceEnumerateDependents | kServiceInterrogate |
                                        kReadControl;

uint32_t fail(uint32_t code) {
    setLastError(code);
    return code;
}

uint32_t succeed() {
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

bool isAdministrator() { return ::geteuid() == 0; }

bool isValidName(std::u16string_view name) {
    return !name.empty() && name.size() <= 256 &&
           name.find_first_of(u"\\/") == std::u16string_view::npos;
}

std::u16string serviceKeyPath(std::u16string_view name) {
    std::u16string path = kServicesKey;
    path += u'\\';
    path += name;
    return path;
}

// A REG_SZ / REG_EXPAND_SZ / REG_MULTI_SZ value's UTF-16 text; false when
// the bytes are not UTF-16 text.
bool textOfValue(const std::vector<uint8_t>& data, std::u16string& out) {
    if (data.size() % 2 != 0) return false;
    out.resize(data.size() / 2);
    if (!data.empty()) std::memcpy(out.data(), data.data(), data.size());
    return true;
}

// Reads one value: 0 with its type and bytes, 2 when missing, else the error.
uint32_t readValue(const RegKey& key, std::u16string_view name, uint32_t& type,
                   std::vector<uint8_t>& data) {
    uint32_t size = 0;
    uint32_t rc = key.queryValue(name, &type, nullptr, &size);
    if (rc != 0) return rc;
    data.resize(size);
    rc = key.queryValue(name, &type, data.empty() ? nullptr : data.data(), &size);
    if (rc == 0) data.resize(size);
    return rc;
}

// A DWORD value: 0 read, 2 missing, 13 present with another type or size.
uint32_t readDwordValue(const RegKey& key, std::u16string_view name, uint32_t& value) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    uint32_t rc = readValue(key, name, type, data);
    if (rc != 0) return rc;
    if (type != kRegDword || data.size() != 4) return kErrorInvalidData;
    std::memcpy(&value, data.data(), 4);
    return kErrorSuccess;
}

// A string value: 0 read (trailing zeros dropped), 2 missing, 13 wrong type.
uint32_t readStringValue(const RegKey& key, std::u16string_view name, std::u16string& value) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    uint32_t rc = readValue(key, name, type, data);
    if (rc != 0) return rc;
    if ((type != kRegSz && type != kRegExpandSz) || !textOfValue(data, value)) {
        return kErrorInvalidData;
    }
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    return kErrorSuccess;
}

uint32_t readMultiStringValue(const RegKey& key, std::u16string_view name,
                              std::vector<std::u16string>& values) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    uint32_t rc = readValue(key, name, type, data);
    if (rc != 0) return rc;
    std::u16string text;
    if ((type != kRegMultiSz && type != kRegSz) || !textOfValue(data, text)) {
        return kErrorInvalidData;
    }
    values.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\0', start);
        if (end == std::u16string::npos) end = text.size();
        if (end > start) values.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return kErrorSuccess;
}

// Opens a registry service record: 0, or 1060 when there is no service of
// that name (no key, or a key without a Type).
uint32_t openRecord(std::u16string_view name, RegKey& key, uint32_t& type) {
    uint32_t rc = RegKey::open(RegRoot::LocalMachine, serviceKeyPath(name), key);
    if (rc == kErrorFileNotFound) return kErrorServiceDoesNotExist;
    if (rc != 0) return rc;
    rc = readDwordValue(key, u"Type", type);
    if (rc != 0) return kErrorServiceDoesNotExist;
    return kErrorSuccess;
}

// The whole record of a registry service.
uint32_t readRecord(std::u16string_view name, ServiceDescription& out) {
    RegKey key;
    uint32_t type = 0;
    uint32_t rc = openRecord(name, key, type);
    if (rc != 0) return rc;
    out = ServiceDescription{};
    out.name = std::u16string(name);
    out.serviceType = type;
    const struct {
        const char16_t* value;
        uint32_t* field;
    } numbers[] = {{u"Start", &out.startType}, {u"ErrorControl", &out.errorControl}};
    for (const auto& number : numbers) {
        rc = readDwordValue(key, number.value, *number.field);
        if (rc == kErrorFileNotFound)
            *number.field = 0;
        else if (rc != 0)
            return kErrorInvalidData;
    }
    const struct {
        const char16_t* value;
        std::u16string* field;
    } strings[] = {{u"ImagePath", &out.binaryPath},
                   {u"DisplayName", &out.displayName},
                   {u"ObjectName", &out.startName},
                   {u"Group", &out.loadOrderGroup}};
    for (const auto& string : strings) {
        rc = readStringValue(key, string.value, *string.field);
        if (rc == kErrorFileNotFound)
            string.field->clear();
        else if (rc != 0)
            return kErrorInvalidData;
    }
    rc = readMultiStringValue(key, u"DependOnService", out.dependencies);
    if (rc != 0 && rc != kErrorFileNotFound) return kErrorInvalidData;
    if (out.displayName.empty()) out.displayName = out.name;
    return kErrorSuccess;
}

ServiceDescription describeUnit(const detail::SystemdUnit& unit) {
    ServiceDescription out;
    out.name = toUtf16(unit.name);
    out.displayName = unit.description.empty() ? out.name : toUtf16(unit.description);
    out.binaryPath = unit.program.empty() ? std::u16string() : toWindowsPath(unit.program);
    out.serviceType = kServiceWin32OwnProcess;
    out.startType = unit.startType;
    out.errorControl = kServiceErrorNormal;
    out.startName = u"LocalSystem";
    return out;
}

bool lessIgnoreCase(const std::u16string& a, const std::u16string& b) {
    return toLower(a) < toLower(b);
}

// Every service the manager knows, sorted by name: registry records first,
// then systemd units whose name no record takes.
uint32_t collectServices(std::vector<ServiceEntry>& out) {
    out.clear();
    RegKey services;
    uint32_t rc = RegKey::open(RegRoot::LocalMachine, kServicesKey, services);
    if (rc != 0 && rc != kErrorFileNotFound) return rc;
    if (rc == 0) {
        std::u16string name;
        for (uint32_t index = 0; services.enumKey(index, name) == 0; ++index) {
            RegKey key;
            uint32_t type = 0;
            if (openRecord(name, key, type) != 0) continue;
            ServiceEntry entry;
            entry.name = name;
            if (readStringValue(key, u"DisplayName", entry.displayName) != 0 ||
                entry.displayName.empty()) {
                entry.displayName = name;
            }
            entry.status.serviceType = type;
            entry.status = detail::liveServiceStatus(name, type);
            out.push_back(std::move(entry));
        }
        std::sort(out.begin(), out.end(), [](const ServiceEntry& a, const ServiceEntry& b) {
            return lessIgnoreCase(a.name, b.name);
        });
    }
    const size_t registryCount = out.size();
    for (const detail::SystemdUnit& unit : detail::listSystemdUnits()) {
        std::u16string name = toUtf16(unit.name);
        // A unit made for a registry service is that service, not another.
        bool taken = std::any_of(out.begin(), out.begin() + static_cast<ptrdiff_t>(registryCount),
                                 [&](const ServiceEntry& e) {
                                     return equalsIgnoreCase(e.name, name) ||
                                            detail::systemdUnitName(e.name) == unit.name;
                                 });
        if (taken) continue;
        ServiceEntry entry;
        entry.name = std::move(name);
        entry.displayName = unit.description.empty() ? entry.name : toUtf16(unit.description);
        entry.status.serviceType = kServiceWin32OwnProcess;
        entry.status.currentState = unit.active ? kServiceRunning : kServiceStopped;
        out.push_back(std::move(entry));
    }
    return kErrorSuccess;
}

bool passesFilter(const ServiceEntry& entry, uint32_t serviceType, uint32_t serviceState) {
    if ((entry.status.serviceType & serviceType) == 0) return false;
    bool stopped = entry.status.currentState == kServiceStopped;
    switch (serviceState) {
        case kServiceActive:
            return !stopped;
        case kServiceInactive:
            return stopped;
        default:
            return true;
    }
}

size_t stringBytes(const std::u16string& text) { return (text.size() + 1) * sizeof(char16_t); }

size_t entryBytes(const ServiceEntry& entry) {
    return sizeof(EnumServiceStatusProcess) + stringBytes(entry.name) +
           stringBytes(entry.displayName);
}

// Copies a string with its terminator to `at` and returns where it lies.
const char16_t* placeString(char*& at, std::u16string_view text) {
    auto* where = reinterpret_cast<char16_t*>(at);
    std::memcpy(where, text.data(), text.size() * sizeof(char16_t));
    where[text.size()] = u'\0';
    at += (text.size() + 1) * sizeof(char16_t);
    return where;
}

std::vector<uint8_t> multiStringBytes(const std::vector<std::u16string>& values) {
    std::u16string text;
    for (const std::u16string& value : values) {
        text += value;
        text += u'\0';
    }
    text += u'\0';
    std::vector<uint8_t> bytes(text.size() * sizeof(char16_t));
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

uint32_t describe(const Service& service, bool systemdUnit, ServiceDescription& out) {
    if (!systemdUnit) return readRecord(service.name(), out);
    detail::SystemdUnit unit;
    if (!detail::findSystemdUnit(toUtf8(service.name()), unit)) return kErrorServiceDoesNotExist;
    out = describeUnit(unit);
    return kErrorSuccess;
}

}  // namespace

// ---- ServiceManager

uint32_t ServiceManager::open(uint32_t access, ServiceManager& out) {
    out.close();
    if ((access & ~kManagerReadRights) != 0 && !isAdministrator()) return fail(kErrorAccessDenied);
    RegKey services;
    uint32_t rc = RegKey::open(RegRoot::LocalMachine, kServicesKey, services);
    if (rc != 0 && rc != kErrorFileNotFound) return fail(rc);
    out.m_access = access;
    out.m_open = true;
    return succeed();
}

uint32_t ServiceManager::listServices(uint32_t serviceType, uint32_t serviceState,
                                      std::vector<ServiceEntry>& out) const {
    out.clear();
    if (!m_open) return fail(kErrorInvalidHandle);
    if ((m_access & kScManagerEnumerateService) == 0) return fail(kErrorAccessDenied);
    std::vector<ServiceEntry> all;
    uint32_t rc = collectServices(all);
    if (rc != 0) return fail(rc);
    for (ServiceEntry& entry : all) {
        if (passesFilter(entry, serviceType, serviceState)) out.push_back(std::move(entry));
    }
    return succeed();
}

uint32_t ServiceManager::enumServices(uint32_t serviceType, uint32_t serviceState, void* buffer,
                                      uint32_t bufferSize, uint32_t& bytesNeeded,
                                      uint32_t& servicesReturned, uint32_t* resumeHandle) const {
    bytesNeeded = 0;
    servicesReturned = 0;
    if (buffer == nullptr && bufferSize != 0) return fail(kErrorInvalidParameter);
    std::vector<ServiceEntry> entries;
    uint32_t rc = listServices(serviceType, serviceState, entries);
    if (rc != 0) return rc;
    size_t first = resumeHandle != nullptr ? *resumeHandle : 0;
    if (first > entries.size()) first = entries.size();

    // As many entries as fit, records first and their strings behind them.
    size_t count = 0;
    size_t used = 0;
    while (first + count < entries.size()) {
        size_t cost = entryBytes(entries[first + count]);
        if (used + cost > bufferSize) break;
        used += cost;
        ++count;
    }
    if (count > 0) {
        auto* records = static_cast<EnumServiceStatusProcess*>(buffer);
        char* strings = static_cast<char*>(buffer) + count * sizeof(EnumServiceStatusProcess);
        for (size_t i = 0; i < count; ++i) {
            const ServiceEntry& entry = entries[first + i];
            records[i].serviceName = placeString(strings, entry.name);
            records[i].displayName = placeString(strings, entry.displayName);
            records[i].status = entry.status;
        }
    }
    servicesReturned = static_cast<uint32_t>(count);
    size_t rest = 0;
    for (size_t i = first + count; i < entries.size(); ++i) rest += entryBytes(entries[i]);
    if (rest > 0) {
        bytesNeeded = static_cast<uint32_t>(std::min<size_t>(rest, 0xFFFFFFFFu));
        if (resumeHandle != nullptr) *resumeHandle = static_cast<uint32_t>(first + count);
        return fail(kErrorMoreData);
    }
    if (resumeHandle != nullptr) *resumeHandle = 0;
    return succeed();
}

uint32_t ServiceManager::createService(const ServiceDescription& description, uint32_t access,
                                       Service& out) const {
    out.close();
    if (!m_open) return fail(kErrorInvalidHandle);
    if ((m_access & kScManagerCreateService) == 0) return fail(kErrorAccessDenied);
    if (!isValidName(description.name)) return fail(kErrorInvalidParameter);
    {
        RegKey existing;
        uint32_t type = 0;
        if (openRecord(description.name, existing, type) == 0) return fail(kErrorServiceExists);
        detail::SystemdUnit unit;
        if (detail::findSystemdUnit(toUtf8(description.name), unit)) {
            return fail(kErrorServiceExists);
        }
    }
    RegKey key;
    uint32_t rc = RegKey::create(RegRoot::LocalMachine, serviceKeyPath(description.name), key);
    if (rc != 0) return fail(rc);
    auto writeText = [&](const char16_t* name, std::u16string_view text, uint32_t type) {
        std::u16string withZero(text);
        withZero += u'\0';
        return key.setValue(name, type, withZero.data(),
                            static_cast<uint32_t>(withZero.size() * sizeof(char16_t)));
    };
    auto writeNumber = [&](const char16_t* name, uint32_t value) {
        return key.setValue(name, kRegDword, &value, sizeof value);
    };
    const std::u16string& display =
        description.displayName.empty() ? description.name : description.displayName;
    rc = writeNumber(u"Start", description.startType);
    if (rc == 0) rc = writeNumber(u"ErrorControl", description.errorControl);
    if (rc == 0) rc = writeText(u"ImagePath", description.binaryPath, kRegExpandSz);
    if (rc == 0) rc = writeText(u"DisplayName", display, kRegSz);
    if (rc == 0) {
        rc = writeText(u"ObjectName",
                       description.startName.empty() ? u"LocalSystem" : description.startName,
                       kRegSz);
    }
    if (rc == 0 && !description.loadOrderGroup.empty()) {
        rc = writeText(u"Group", description.loadOrderGroup, kRegSz);
    }
    if (rc == 0 && !description.dependencies.empty()) {
        std::vector<uint8_t> bytes = multiStringBytes(description.dependencies);
        rc = key.setValue(u"DependOnService", kRegMultiSz, bytes.data(),
                          static_cast<uint32_t>(bytes.size()));
    }
    // The Type value makes the key a service, so it is written last: a
    // record cut short by a failure is never listed.
    if (rc == 0) rc = writeNumber(u"Type", description.serviceType);
    if (rc != 0) {
        (void)deleteTree(RegRoot::LocalMachine, serviceKeyPath(description.name));
        return fail(rc);
    }
    if (description.startType == kServiceAutoStart && detail::systemdRunning()) {
        rc = detail::installSystemdUnit(description);
        if (rc != 0) {
            (void)deleteTree(RegRoot::LocalMachine, serviceKeyPath(description.name));
            return fail(rc);
        }
    }
    return Service::open(*this, description.name, access, out);
}

// ---- Service

uint32_t Service::open(const ServiceManager& manager, std::u16string_view name, uint32_t access,
                       Service& out) {
    out.close();
    if (!manager.isOpen()) return fail(kErrorInvalidHandle);
    if (!isValidName(name)) return fail(kErrorInvalidParameter);
    const bool changes = (access & ~kServiceReadRights) != 0;
    RegKey key;
    uint32_t type = 0;
    uint32_t rc = openRecord(name, key, type);
    if (rc == 0) {
        if (changes && !isAdministrator()) return fail(kErrorAccessDenied);
        out.m_name = std::u16string(name);
        out.m_systemdUnit = false;
    } else if (rc != kErrorServiceDoesNotExist) {
        return fail(rc);
    } else {
        detail::SystemdUnit unit;
        if (!detail::findSystemdUnit(toUtf8(name), unit)) return fail(kErrorServiceDoesNotExist);
        if (changes) return fail(kErrorAccessDenied);
        out.m_name = toUtf16(unit.name);
        out.m_systemdUnit = true;
    }
    out.m_access = access;
    out.m_open = true;
    return succeed();
}

uint32_t Service::queryDescription(ServiceDescription& out) const {
    if (!m_open) return fail(kErrorInvalidHandle);
    if ((m_access & kServiceQueryConfig) == 0) return fail(kErrorAccessDenied);
    uint32_t rc = describe(*this, m_systemdUnit, out);
    return rc == 0 ? succeed() : fail(rc);
}

uint32_t Service::queryConfig(ServiceConfig* config, uint32_t bufferSize,
                              uint32_t& bytesNeeded) const {
    bytesNeeded = 0;
    ServiceDescription description;
    uint32_t rc = queryDescription(description);
    if (rc != 0) return rc;
    std::u16string dependencies;
    for (const std::u16string& name : description.dependencies) {
        dependencies += name;
        dependencies += u'\0';
    }
    // The list closes with one more zero; placeString adds it.
    const size_t needed = sizeof(ServiceConfig) + stringBytes(description.binaryPath) +
                          stringBytes(description.loadOrderGroup) + stringBytes(dependencies) +
                          stringBytes(description.startName) + stringBytes(description.displayName);
    if (config == nullptr || bufferSize < needed) {
        bytesNeeded = static_cast<uint32_t>(needed);
        return fail(kErrorInsufficientBuffer);
    }
    char* strings = reinterpret_cast<char*>(config) + sizeof(ServiceConfig);
    config->serviceType = description.serviceType;
    config->startType = description.startType;
    config->errorControl = description.errorControl;
    config->tagId = 0;
    config->binaryPathName = placeString(strings, description.binaryPath);
    config->loadOrderGroup = placeString(strings, description.loadOrderGroup);
    config->dependencies = placeString(strings, dependencies);
    config->serviceStartName = placeString(strings, description.startName);
    config->displayName = placeString(strings, description.displayName);
    bytesNeeded = static_cast<uint32_t>(needed);
    return succeed();
}

uint32_t Service::deleteService() const {
    if (!m_open) return fail(kErrorInvalidHandle);
    if (m_systemdUnit || (m_access & kServiceDelete) == 0) return fail(kErrorAccessDenied);
    std::string unit;
    if (detail::readServiceUnitMarker(m_name, unit) == 0) detail::removeSystemdUnit(unit);
    uint32_t rc = deleteTree(RegRoot::LocalMachine, serviceKeyPath(m_name));
    if (rc == kErrorFileNotFound) return fail(kErrorServiceDoesNotExist);
    return rc == 0 ? succeed() : fail(rc);
}

namespace detail {

uint32_t readServiceRecord(std::u16string_view name, ServiceDescription& out) {
    return readRecord(name, out);
}

uint32_t readServiceUnitMarker(std::u16string_view name, std::string& unit) {
    RegKey key;
    uint32_t type = 0;
    uint32_t rc = openRecord(name, key, type);
    if (rc != 0) return rc;
    std::u16string text;
    rc = readStringValue(key, u"SystemdUnit", text);
    if (rc != 0) return rc;
    unit = toUtf8(text);
    return unit.empty() ? kErrorFileNotFound : kErrorSuccess;
}

uint32_t writeServiceUnitMarker(std::u16string_view name, const std::string& unit) {
    return writeString(RegRoot::LocalMachine, serviceKeyPath(name), u"SystemdUnit", toUtf16(unit));
}

}  // namespace detail

}  // namespace platform
