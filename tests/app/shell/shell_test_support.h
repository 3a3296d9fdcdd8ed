// Helpers of the shell tests: a temporary folder and UTF-16LE file reading.
#pragma once
#include <filesystem>
#include <string>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& path() const { return m_path; }
    // Windows form of a host path below this folder (drive C: is "/").
    std::u16string windows(const std::string& name = {}) const;

private:
    std::filesystem::path m_path;
};

std::string readBytes(const std::filesystem::path& file);
// The UTF-16LE bytes of a text.
std::string utf16le(const std::u16string& text);
