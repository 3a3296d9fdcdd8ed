// A sandbox system for threat scans: a temp folder mapped as drive C: and
// laid out as the location tables expect, a registry and a hash database of
// its own, and the scan's messages caught by a window.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/scan_request.h"

namespace threat_test {

namespace fs = std::filesystem;

struct Message {
    uint32_t code;
    std::u16string text;
};

class ThreatSandbox {
public:
    ThreatSandbox();
    ~ThreatSandbox();
    ThreatSandbox(const ThreatSandbox&) = delete;
    ThreatSandbox& operator=(const ThreatSandbox&) = delete;

    // Host folders: root, drive C:, program folder, data, temp (TMPDIR),
    // systemd unit folder (ORVANE_SYSTEMD_UNIT_PATH).
    fs::path root, c, bin, data, temp, units;
    std::u16string user;  // the current user's name, as the tables use it

    // Writes a file with content unique to it (or the given content) and
    // puts its MD5 into the database. Returns the host path.
    fs::path plant(const fs::path& hostPath, std::string content = {});
    // A file that is not in the database.
    fs::path placeClean(const fs::path& hostPath);
    void addHash(std::string_view bytes);

    // The per-user folder under C:\Users and C:\Documents and Settings.
    fs::path usersFolder() const { return c / "Users" / toHost(user); }

    void setSetting(const char16_t* name, uint32_t value);
    // Every flag of the threat scan set to value.
    void setAllThreatSettings(uint32_t value);

    // Runs one threat scan through the engine's entry and returns its
    // messages (the message channel's own traces left out). Skips the test
    // when the account lacks the scan's privileges.
    std::vector<Message> run(ScanRequest* request = nullptr);
    bool privilegesMissing() const { return m_privilegesMissing; }
    // Called on the scan thread with each message the scan sends.
    std::function<void(uint32_t code, const std::u16string& text)> onMessage;

    // The Windows form a walked file is reported with (lower case).
    static std::u16string walkedName(const fs::path& host);
    static std::string toHost(const std::u16string& text);

private:
    void writeDatabase();

    std::vector<std::string> m_hashes;
    fs::path m_savedCwd;
    std::vector<std::pair<std::string, std::string>> m_savedEnv;  // name, value ("\1" = unset)
    bool m_privilegesMissing = false;
    std::mutex m_lock;
    std::vector<Message> m_messages;
};

// A child process running a program with arguments; killed and reaped when
// it goes out of scope.
class TestChild {
public:
    explicit TestChild(const std::vector<std::string>& argv);
    ~TestChild();
    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;
    int pid() const { return m_pid; }
    // Waits until it has ended by itself.
    void wait();

private:
    int m_pid = -1;
};

// Message helpers.
std::vector<std::u16string> textsOf(const std::vector<Message>& messages, uint32_t code);
size_t countText(const std::vector<Message>& messages, uint32_t code, std::u16string_view text);
bool hasText(const std::vector<Message>& messages, uint32_t code, std::u16string_view text);
std::u16string reportLine(std::u16string_view name, std::u16string_view extra);
std::string show(const std::vector<std::u16string>& texts);

}  // namespace threat_test
