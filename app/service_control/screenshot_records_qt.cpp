#include <QApplication>
#include <cstring>
#include <string>

#include "app/service_control/process_panel.h"
#include "app/service_control/screenshot_records.h"
#include "common/registry_names.h"
#include "platform/registry.h"

void ShowcaseRecords() {
    platform::RegKey key;
    (void)platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey, key);
    if (platform::RegKey::create(platform::RegRoot::LocalMachine, names::kDataKey, key) != 0) {
        return;
    }
    const std::u16string text =
        u"1287|2|C:\\home\\dana\\Downloads\\invoice-march.pdf|"
        u"C:\\home\\dana\\Downloads\\setup-crack.exe";
    std::string bytes(names::kDataRecordBytes, '\0');
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
    (void)key.setValue(names::kValueData, platform::kRegBinary, bytes.data(),
                       static_cast<uint32_t>(bytes.size()));
}

void WaitForProcessPanel() {
    if (ProcessScanner* panel = ProcessPanel()) {
        (void)panel->waitForPasses(1, std::chrono::seconds(20));
    }
    QApplication::processEvents();
}
