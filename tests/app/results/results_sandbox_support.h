// A temporary installation for the results tests: <root>/bin (the program
// folder named by "Path", and the current directory), logs and infected
// beside it, and a registry file of its own.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

class ResultsSandbox {
public:
    ResultsSandbox();
    ~ResultsSandbox();
    ResultsSandbox(const ResultsSandbox&) = delete;
    ResultsSandbox& operator=(const ResultsSandbox&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path host(const std::string& relative) const { return m_root / relative; }
    // Windows form of a path below the root.
    std::u16string windows(const std::string& relative = {}) const;
    void write(const std::string& relative, const std::string& content) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // The records now in <root>/infected (names ending in .ovm).
    std::vector<std::string> records() const;

private:
    std::filesystem::path m_root;
    std::filesystem::path m_previous;
};

// A REG_SZ value of HKCU\Software\Microsoft\Windows\CurrentVersion\Run.
inline constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
bool RunValueExists(const std::u16string& name, std::u16string* data = nullptr);
void SetRunValue(const std::u16string& name, const std::u16string& data);
