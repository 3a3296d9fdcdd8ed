// A sandbox installation for the application's scans: <root>/bin named by
// the registry value Path, <root>/data with a hash database of the files
// the test plants, <root>/logs, a temp folder, its own registry file and
// drive C: mapped onto <root>/c. The engine is loaded from the build's
// program folder. Everything is put back when it goes away.
#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace apptest {

namespace fs = std::filesystem;

// The EICAR test file: the starter database of every installation knows it.
inline constexpr char kEicar[] =
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

class AppSandbox {
public:
    AppSandbox();
    ~AppSandbox();
    AppSandbox(const AppSandbox&) = delete;
    AppSandbox& operator=(const AppSandbox&) = delete;

    fs::path root, bin, data, logs, temp, c;

    // The folder libov_core.so is loaded from (the build's program folder).
    static std::string engineFolder();

    // Writes a file; plant() also puts the MD5 of its content into the
    // database. Parents are made as needed.
    void write(const fs::path& file, const std::string& content) const;
    void plant(const fs::path& file, const std::string& content);
    // Maps a drive letter onto a folder; false when the drive map does not
    // show it afterwards.
    [[nodiscard]] bool mapDrive(char letter, const fs::path& folder) const;
    void setSetting(const char16_t* name, uint32_t value) const;

    // Every report log in logs/, by name.
    std::vector<fs::path> reportLogs() const;

    // The Windows form of a host path (drive C: is <root>/c here).
    static std::u16string windows(const fs::path& host);

private:
    void writeDatabase() const;

    std::vector<std::string> m_hashes;
    fs::path m_savedCwd;
    std::vector<std::pair<std::string, std::string>> m_savedEnv;  // "\1" = was unset
};

std::string ReadFile(const fs::path& file);
std::string Md5Upper(const std::string& bytes);
// How many times text occurs in haystack.
size_t Occurrences(const std::string& haystack, const std::string& text);

// Calls step until done() holds or the deadline passes; true when done.
bool WaitFor(const std::function<bool()>& done, const std::function<void()>& step,
             std::chrono::seconds deadline = std::chrono::seconds(120));

}  // namespace apptest
