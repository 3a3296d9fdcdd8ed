#include "engine/engine_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "common/digest_text.h"
#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "engine/md5.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "shared/stored_database.h"

namespace enginetest {

Recorder::Recorder() {
    m_window = platform::createWindow([this](uint32_t code, const char16_t* text) -> intptr_t {
        std::function<void(uint32_t, const std::u16string&)> hook;
        std::u16string copy = text ? text : u"";
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_messages.push_back({code, copy});
            hook = m_hook;
        }
        if (hook) hook(code, copy);
        return 0;
    });
}

Recorder::~Recorder() { platform::destroyWindow(m_window); }

std::vector<Message> Recorder::messages() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages;
}

void Recorder::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_messages.clear();
}

size_t Recorder::count(uint32_t code) const {
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (const Message& m : m_messages) n += m.code == code;
    return n;
}

size_t Recorder::count(uint32_t code, std::u16string_view text) const {
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (const Message& m : m_messages) n += m.code == code && m.text == text;
    return n;
}

bool Recorder::contains(uint32_t code, std::u16string_view text) const {
    return count(code, text) > 0;
}

std::vector<std::u16string> Recorder::texts(uint32_t code) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::u16string> out;
    for (const Message& m : m_messages)
        if (m.code == code) out.push_back(m.text);
    return out;
}

void Recorder::onMessage(std::function<void(uint32_t, const std::u16string&)> hook) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hook = std::move(hook);
}

Install::Install() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ov-engine-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    m_root = made;
    std::filesystem::create_directories(m_root / "bin");
    std::filesystem::create_directories(m_root / "data");
    std::filesystem::create_directories(m_root / "logs");
    m_previousDirectory = std::filesystem::current_path();
    setenv("ORVANE_REGISTRY", (m_root / "registry.db").c_str(), 1);
    platform::resetRegistryConnection();
    std::u16string programFolder = platform::toWindowsPath(bin().string());
    EXPECT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                    names::kValuePath, programFolder),
              0u);
}

Install::~Install() {
    std::filesystem::current_path(m_previousDirectory);
    platform::resetRegistryConnection();
    unsetenv("ORVANE_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
}

void Install::writeDatabase(const std::string& plain) {
    std::string error;
    ASSERT_TRUE(ovtest::writeDatabaseFile(m_root / "data" / "hashdb.dbf", plain, error)) << error;
}

void Install::writeStoredDatabase(const std::string& stored) {
    std::ofstream out(m_root / "data" / "hashdb.dbf", std::ios::binary | std::ios::trunc);
    out.write(stored.data(), static_cast<std::streamsize>(stored.size()));
}

void Install::removeDatabase() { std::filesystem::remove(m_root / "data" / "hashdb.dbf"); }

void Install::setSetting(const char16_t* name, uint32_t value) {
    EXPECT_EQ(
        platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value),
        0u);
}

std::u16string Install::writeFile(const std::string& relative, const std::string& content) {
    std::filesystem::path path = m_root / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    return platform::toWindowsPath(path.string());
}

std::string Md5Upper(const std::string& data) {
    Md5Hasher hasher;
    hasher.update(data.data(), data.size());
    uint8_t digest[16];
    hasher.finish(digest);
    return names::digestTextUpperAscii(digest);
}

RequestScope::RequestScope(const Recorder& recorder, int32_t scanType) {
    request.hwndNotify = recorder.window();
    request.scanType = scanType;
    SetCurrentRequest(&request);
    SetRunFlag(1);
}

RequestScope::~RequestScope() {
    SetCurrentRequest(nullptr);
    UnloadOVData();
    ReleaseInfectionTable();
}

}  // namespace enginetest
