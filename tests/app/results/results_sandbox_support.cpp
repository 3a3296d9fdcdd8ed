#include "app/results/results_sandbox_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/registry_names.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/registry.h"

ResultsSandbox::ResultsSandbox() {
    std::string pattern = "/tmp/ov-results-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    m_root = pattern;
    for (const char* folder : {"bin", "logs", "infected", "home"})
        std::filesystem::create_directories(m_root / folder);
    m_previous = std::filesystem::current_path();
    setenv("ORVANE_REGISTRY", (m_root / "registry.db").c_str(), 1);
    platform::resetRegistryConnection();
    (void)platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                names::kValuePath,
                                platform::toWindowsPath((m_root / "bin").string()));
    std::filesystem::current_path(m_root / "bin");
}

ResultsSandbox::~ResultsSandbox() {
    std::filesystem::current_path(m_previous);
    platform::resetRegistryConnection();
    unsetenv("ORVANE_REGISTRY");
    std::error_code ec;
    // Records are read-only; give every file its write bits back first.
    for (auto it = std::filesystem::recursive_directory_iterator(m_root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink())
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_root, ec);
}

std::u16string ResultsSandbox::windows(const std::string& relative) const {
    return platform::toWindowsPath(relative.empty() ? m_root.string()
                                                    : (m_root / relative).string());
}

void ResultsSandbox::write(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories((m_root / relative).parent_path());
    std::ofstream(m_root / relative, std::ios::binary) << content;
}

std::string ResultsSandbox::read(const std::string& relative) const {
    std::ifstream in(m_root / relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool ResultsSandbox::exists(const std::string& relative) const {
    struct stat st {};
    return ::lstat((m_root / relative).c_str(), &st) == 0;
}

std::vector<std::string> ResultsSandbox::records() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_root / "infected"))
        if (entry.path().extension() == ".ovm") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool RunValueExists(const std::u16string& name, std::u16string* data) {
    std::u16string value;
    bool found = platform::readString(platform::RegRoot::CurrentUser, kRunKey, name, value) == 0;
    if (data) *data = value;
    return found;
}

void SetRunValue(const std::u16string& name, const std::u16string& data) {
    (void)platform::writeString(platform::RegRoot::CurrentUser, kRunKey, name, data);
}
