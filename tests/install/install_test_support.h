// Shell commands and a scan with the programs of an installed root, for the
// installation and package tests.
#pragma once
#include <filesystem>
#include <string>

namespace installtest {

struct Command {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;  // standard output and standard error together
};

// Runs a command line through /bin/sh.
Command Shell(const std::string& commandLine);

// The text quoted for the shell.
std::string Quote(const std::string& text);

// A fresh folder under /tmp, removed with everything in it on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Makes root an installation with its own root/bin/orvane-setup, puts the
// digest of a sample file into its database with its own ovdb, and scans the
// sample with its own orvane-scan: the scan must find the sample and write
// its report into root/logs. Records gtest failures; the environment of the
// programs has no ORVANE_REGISTRY and no library path, so they run as a
// person would run them.
void ExpectInstalledProgramsScan(const std::filesystem::path& root,
                                 const std::filesystem::path& scratch);

}  // namespace installtest
