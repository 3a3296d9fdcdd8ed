#include "app/scan/app_sandbox_support.h"

#include <openssl/evp.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "common/hash_db_format.h"
#include "app/settings/feedback.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace apptest {

namespace {

void SaveAndSet(std::vector<std::pair<std::string, std::string>>& saved, const char* name,
                const std::string& value) {
    const char* old = std::getenv(name);
    saved.emplace_back(name, old ? old : "\1");
    ::setenv(name, value.c_str(), 1);
}

}  // namespace

std::string Md5Upper(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 15];
    }
    return text;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t Occurrences(const std::string& haystack, const std::string& text) {
    size_t count = 0;
    for (size_t at = haystack.find(text); at != std::string::npos;
         at = haystack.find(text, at + text.size()))
        ++count;
    return count;
}

bool WaitFor(const std::function<bool()>& done, const std::function<void()>& step,
             std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        if (step) step();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

AppSandbox::AppSandbox() {
    m_savedCwd = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "ov_appscan_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
    bin = root / "bin";
    data = root / "data";
    logs = root / "logs";
    temp = root / "temp";
    c = root / "c";
    for (const fs::path& folder : {bin, data, logs, temp, c}) fs::create_directories(folder);

    SaveAndSet(m_savedEnv, "ORVANE_REGISTRY", (root / "registry.db").string());
    SaveAndSet(m_savedEnv, "TMPDIR", temp.string());
    platform::resetRegistryConnection();
    platform::RegKey settings;
    (void)platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey, settings);
    // An installation whose one-time feedback offer was already made, so that
    // the main dialog opens without it.
    (void)platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey,
                               names::kFeedBack, kFeedBackShown);
    if (!mapDrive('C', c)) std::abort();
    // Path in the form the installer writes it, after C: moved.
    (void)platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                names::kValuePath, windows(bin));
    m_hashes.push_back(Md5Upper(kEicar));
    writeDatabase();
}

AppSandbox::~AppSandbox() {
    std::error_code ignored;
    fs::current_path(m_savedCwd, ignored);
    for (auto it = m_savedEnv.rbegin(); it != m_savedEnv.rend(); ++it) {
        if (it->second == "\1") {
            ::unsetenv(it->first.c_str());
        } else {
            ::setenv(it->first.c_str(), it->second.c_str(), 1);
        }
    }
    platform::resetRegistryConnection();
    fs::remove_all(root, ignored);
}

std::string AppSandbox::engineFolder() { return OV_BIN_DIR; }

std::u16string AppSandbox::windows(const fs::path& host) {
    return platform::toWindowsPath(host.string());
}

void AppSandbox::write(const fs::path& file, const std::string& content) const {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

void AppSandbox::plant(const fs::path& file, const std::string& content) {
    write(file, content);
    m_hashes.push_back(Md5Upper(content));
    writeDatabase();
}

bool AppSandbox::mapDrive(char letter, const fs::path& folder) const {
    std::u16string name = u"\\DosDevices\\";
    name += static_cast<char16_t>(letter);
    name += u':';
    (void)platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey, name,
                                platform::toUtf16(folder.string()));
    return platform::driveRoot(static_cast<char16_t>(letter)) == folder.string();
}

void AppSandbox::setSetting(const char16_t* name, uint32_t value) const {
    (void)platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value);
}

std::vector<fs::path> AppSandbox::reportLogs() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(logs)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Orvane_", 0) == 0 && entry.path().extension() == ".log")
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

void AppSandbox::writeDatabase() const {
    std::string plain;
    for (const auto& hash : m_hashes) plain += hash + "\r\n";
    std::string stored;
    std::string error;
    if (!names::scrambleDatabaseText(plain, stored, &error)) std::abort();
    std::ofstream out(data / "hashdb.dbf", std::ios::binary | std::ios::trunc);
    out << stored;
}

}  // namespace apptest
