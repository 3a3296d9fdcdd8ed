#include "app/results/registry_place.h"

#include "app/results/report_text.h"
#include "app/shell/app_log.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"

int32_t OVDeleteRegKey(const char16_t* location) {
    LogEntry(u"OVDeleteRegKey");
    if (!location) return 1;
    std::optional<RegistryPlace> place = ParseLocationText(location);
    if (!place) return 1;
    platform::RegKey key;
    if (platform::RegKey::open(place->root, place->keyPath, key) != platform::kErrorSuccess)
        return 0;
    (void)key.deleteValue(place->valueName);
    return 1;
}

int32_t OVRestoreRegKey(const char16_t* location, const char16_t* data,
                        const ErrorSink& showError) {
    LogEntry(u"OVRestoreRegKey");
    if (!location || !data) return 0;
    std::optional<RegistryPlace> place = ParseLocationText(location);
    if (!place) return 0;
    auto show = [&showError](const std::u16string& text) {
        if (showError) showError(text);
    };
    platform::RegKey key;
    uint32_t rc = platform::RegKey::create(place->root, place->keyPath, key);
    if (rc != platform::kErrorSuccess) {
        show(platform::format16(u"Create Reg Key: %s, Type: %s, code: %d Try 1",
                                place->keyPath.c_str(), place->rootName.c_str(),
                                static_cast<int>(rc)));
        // This registry has no separate right to set values; the second try
        // is the same request.
        rc = platform::RegKey::create(place->root, place->keyPath, key);
        if (rc != platform::kErrorSuccess) {
            show(platform::format16(u"Create Reg Key: %s, Type: %s, code: %d Try 2",
                                    place->keyPath.c_str(), place->rootName.c_str(),
                                    static_cast<int>(rc)));
            return 0;
        }
    }
    std::u16string value(data);
    std::string bytes = platform::toUtf16LeBytes(value);
    bytes.append(2, '\0');
    rc = key.setValue(place->valueName, platform::kRegSz, bytes.data(),
                      static_cast<uint32_t>(bytes.size()));
    if (rc != platform::kErrorSuccess) {
        show(platform::format16(
            u"Reg Set Value Key: %s, Type: %s, code: %d, Value Name: %s, Value: %s",
            place->keyPath.c_str(), place->rootName.c_str(), static_cast<int>(rc),
            place->valueName.c_str(), value.c_str()));
        return 0;
    }
    return 1;
}
