// Running the built tools as child processes against a temporary
// installation: <root>/bin named by the registry value Path, <root>/data,
// <root>/logs and <root>/registry.db (ORVANE_REGISTRY points at it).
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace toolstest {

struct Run {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs OV_BIN_DIR/<program> with the arguments, standard input from
// stdinText, held to the default deadline of tooltest::runChild.
Run RunTool(const std::string& program, const std::vector<std::string>& args,
            const std::string& stdinText = "");

class TempInstall {
public:
    TempInstall();
    ~TempInstall();
    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path database() const { return m_root / "data" / "hashdb.dbf"; }
    void setSetting(const char16_t* name, uint32_t value);
    std::filesystem::path writeFile(const std::string& relative, const std::string& content);
    // Every report log in logs/, oldest name first.
    std::vector<std::filesystem::path> reportLogs() const;

private:
    std::filesystem::path m_root;
};

std::string ReadFile(const std::filesystem::path& path);
std::string Md5Upper(const std::filesystem::path& file);
// The Windows form of a host path.
std::string WindowsForm(const std::filesystem::path& path);

}  // namespace toolstest
