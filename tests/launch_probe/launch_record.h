// Reading what the stand-in program (launch_probe.cpp) recorded about its
// start.
#pragma once
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace ovtest {

struct LaunchRecord {
    std::string workingFolder;
    std::vector<std::string> arguments;    // argv, argv[0] first
    std::vector<std::string> environment;  // NAME=value, in the program's order
};

// Puts a copy of the stand-in program at `target` (made executable).
inline bool installProbe(const std::filesystem::path& target) {
    std::error_code error;
    std::filesystem::copy_file(OV_LAUNCH_PROBE, target,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) return false;
    std::filesystem::permissions(target, std::filesystem::perms::owner_all, error);
    return !error;
}

// Waits for the record of the program at `program` ("<program>.ran"); the
// program is started detached, so it comes a little later. False when none
// came within the limit, which is generous: this is no measure of speed.
inline bool waitForRecord(const std::filesystem::path& program, LaunchRecord& out,
                          std::chrono::seconds limit = std::chrono::seconds(30)) {
    const std::filesystem::path file = program.string() + ".ran";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(file)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out = {};
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string entry = bytes.substr(start, end - start);
        start = end + 1;
        const size_t equals = entry.find('=');
        const std::string kind = entry.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : entry.substr(equals + 1);
        if (kind == "cwd") out.workingFolder = value;
        if (kind == "arg") out.arguments.push_back(value);
        if (kind == "env") out.environment.push_back(value);
    }
    return true;
}

}  // namespace ovtest
