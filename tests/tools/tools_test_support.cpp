#include "tools/tools_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/child_run_support.h"

namespace toolstest {

namespace {
std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
}  // namespace

Run RunTool(const std::string& program, const std::vector<std::string>& args,
            const std::string& stdinText) {
    tooltest::ChildResult child = tooltest::runChild({program, args, stdinText});
    return {child.exitCode, std::move(child.out), std::move(child.err)};
}

TempInstall::TempInstall() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ov-tools-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    for (const char* folder : {"bin", "data", "logs"})
        std::filesystem::create_directories(m_root / folder);
    setenv("ORVANE_REGISTRY", (m_root / "registry.db").c_str(), 1);
    platform::resetRegistryConnection();
    EXPECT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                    names::kValuePath,
                                    platform::toWindowsPath((m_root / "bin").string())),
              0u);
}

TempInstall::~TempInstall() {
    platform::resetRegistryConnection();
    unsetenv("ORVANE_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
}

void TempInstall::setSetting(const char16_t* name, uint32_t value) {
    EXPECT_EQ(
        platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value),
        0u);
}

std::filesystem::path TempInstall::writeFile(const std::string& relative,
                                             const std::string& content) {
    std::filesystem::path path = m_root / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return path;
}

std::vector<std::filesystem::path> TempInstall::reportLogs() const {
    std::vector<std::filesystem::path> out;
    for (const auto& entry : std::filesystem::directory_iterator(m_root / "logs"))
        if (entry.path().filename().string().rfind("Orvane_", 0) == 0) out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Md5Upper(const std::filesystem::path& file) {
    std::string command = "md5sum " + Quote(file.string());
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[64] = {};
    if (pipe) {
        if (!fgets(buffer, 33, pipe)) buffer[0] = 0;
        pclose(pipe);
    }
    std::string hash(buffer);
    for (char& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hash;
}

std::string WindowsForm(const std::filesystem::path& path) {
    return platform::toUtf8(platform::toWindowsPath(path.string()));
}

}  // namespace toolstest
