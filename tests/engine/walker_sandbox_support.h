// A sandbox for scans of the folder walker's tests: a temporary install
// root with its own registry file, hash database and temp folder, drives
// mapped onto folders inside it, and a window that records what the engine
// sends during one scan run.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/scan_request.h"

namespace walker_test {

namespace fs = std::filesystem;

// What one scan run sent to its window.
struct ScanRecord {
    std::map<uint32_t, int> counts;        // messages per code
    std::vector<std::string> reportLines;  // code 1054, UTF-8
    std::vector<std::string> infected;     // code 11026 texts
    std::vector<std::string> traces;       // code 101024, without the channel's own
    std::vector<std::string> sequence;     // "code:text" of every message but the traces
    int32_t result = -1;                   // what the start of the scan returned

    int count(uint32_t code) const;
    // Report lines whose path ends in this name (a base name or a tail).
    int findings(const std::string& tail) const;
    // Report lines whose location text names this archive member (the
    // tail of the member chain, "inner.zip > a.exe" or "a.exe").
    int memberFindings(const std::string& tail) const;
    bool traced(const std::string& text) const;  // a trace that contains text
};

class ScanSandbox {
public:
    ScanSandbox();
    ~ScanSandbox();
    ScanSandbox(const ScanSandbox&) = delete;
    ScanSandbox& operator=(const ScanSandbox&) = delete;

    const fs::path& root() const { return m_root; }
    fs::path tempFolder() const { return m_root / "temp"; }

    // A new folder inside the sandbox (parents made as needed).
    fs::path folder(const std::string& relative) const;
    // Maps a drive letter onto a host folder of the sandbox; false when the
    // drive map does not show it afterwards.
    [[nodiscard]] bool mapDrive(char letter, const fs::path& hostFolder) const;
    void setSetting(const char16_t* name, uint32_t value) const;

    // Writes a file. plant() also adds its content's MD5 to the database.
    void write(const fs::path& file, const std::string& content) const;
    void plant(const fs::path& file, const std::string& content);
    // Adds the MD5 of an existing file (an archive) to the database.
    void plantExisting(const fs::path& file);
    // Writes the scrambled database with every planted hash.
    void writeDatabase() const;

    // Runs one scan through the engine's start and returns what it sent.
    // hook, when given, sees each message first on the scan thread.
    ScanRecord runFull(const std::u16string& driveList,
                       std::function<void(uint32_t, const std::u16string&)> hook = {});
    ScanRecord runCustom(const std::u16string& file, const std::u16string& folder,
                         std::function<void(uint32_t, const std::u16string&)> hook = {});
    ScanRecord run(ScanRequest& request,
                   std::function<void(uint32_t, const std::u16string&)> hook = {});

    // Entries left in the temp folder (extraction folders must not stay).
    std::vector<std::string> tempLeftovers() const;

private:
    fs::path m_root;
    std::string m_oldRegistry;
    std::string m_oldTmpdir;
    bool m_hadRegistry = false;
    bool m_hadTmpdir = false;
    std::string m_oldRuntimeDir;
    bool m_hadRuntimeDir = false;
    std::vector<std::string> m_hashes;
};

// The MD5 text (upper case) of some bytes.
std::string md5Upper(const std::string& bytes);

// Builds an archive with /usr/bin/7zz from files in a folder; false on failure.
// type is "zip" or "7z"; members are paths relative to fromFolder.
bool makeArchive(const fs::path& archive, const fs::path& fromFolder,
                 const std::vector<std::string>& members, const std::string& type);

bool haveArchiver();

}  // namespace walker_test
