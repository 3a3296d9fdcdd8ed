#include "app/schedule/schedule_test_support.h"

#include <fstream>

#include "app/shell/app_log.h"
#include "app/shell/shell_state.h"
#include "common/registry_names.h"
#include "platform/registry.h"
#include "platform/text.h"

void ScheduleSandbox::SetUp() {
    gShellState.Reset();
    gAppLog.Reset();
    setenv("ORVANE_REGISTRY", (folder.path() / "registry.db").c_str(), 1);
    platform::resetRegistryConnection();
    std::filesystem::create_directories(folder.path() / "bin");
    std::filesystem::create_directories(folder.path() / "jobs");
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                    names::kValuePath, folder.windows("bin")),
              0u);
    platform::RegKey data;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, names::kDataKey, data), 0u);
    const std::u16string logName = folder.windows("app.log");
    ASSERT_EQ(gAppLog.Open(logName.c_str()), 0);
}

void ScheduleSandbox::TearDown() {
    gShellState.Reset();
    gAppLog.Reset();
    platform::resetRegistryConnection();
    unsetenv("ORVANE_REGISTRY");
}

void ScheduleSandbox::writeJob(const std::string& name, const jobfile::JobFields& job) const {
    std::ofstream(jobPath(name), std::ios::binary) << jobfile::jobFileBytes(job);
}

void ScheduleSandbox::writeJobText(const std::string& name, const std::u16string& text) const {
    std::ofstream(jobPath(name), std::ios::binary) << platform::toUtf16LeBytes(text);
}

std::string ScheduleSandbox::log() const { return readBytes(folder.path() / "app.log"); }

bool ScheduleSandbox::logHas(const std::u16string& text) const {
    return log().find(utf16le(text)) != std::string::npos;
}

std::string ScheduleSandbox::schedBytes(uint32_t* type) {
    platform::RegKey data;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, data) != 0)
        return {};
    char buffer[1024];
    uint32_t size = sizeof buffer;
    if (data.queryValue(names::kValueSched, type, buffer, &size) != 0) return {};
    return std::string(buffer, size);
}

void ScheduleSandbox::setSched(const std::u16string& name) {
    platform::RegKey data;
    ASSERT_EQ(platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, data), 0u);
    ASSERT_EQ(data.setValue(names::kValueSched, platform::kRegExpandSz, name.data(),
                            static_cast<uint32_t>(name.size() * 2)),
              0u);
}

void ScheduleSandbox::setDebug(uint32_t value) {
    ASSERT_EQ(platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey,
                                   names::kDebug, value),
              0u);
}
