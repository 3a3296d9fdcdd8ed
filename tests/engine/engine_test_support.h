// Fixtures of the engine tests: a temporary installation (registry file,
// program folder, hash database) and a window that records every engine
// message.
#pragma once
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_internal.h"
#include "platform/message.h"

namespace enginetest {

struct Message {
    uint32_t code;
    std::u16string text;
};

// A thread-safe window that keeps every (code, text) it is sent.
class Recorder {
public:
    Recorder();
    ~Recorder();
    platform::WindowHandle window() const { return m_window; }
    std::vector<Message> messages() const;
    void clear();
    size_t count(uint32_t code) const;
    size_t count(uint32_t code, std::u16string_view text) const;
    bool contains(uint32_t code, std::u16string_view text) const;
    // Texts of one code, in order.
    std::vector<std::u16string> texts(uint32_t code) const;
    // Called for each message after it is recorded (on the sender's thread).
    void onMessage(std::function<void(uint32_t, const std::u16string&)> hook);

private:
    mutable std::mutex m_lock;
    std::vector<Message> m_messages;
    std::function<void(uint32_t, const std::u16string&)> m_hook;
    platform::WindowHandle m_window = 0;
};

// A temporary installation: <root>/bin (the program folder named by the
// registry value Path), <root>/data, <root>/logs, <root>/registry.db.
class Install {
public:
    Install();
    ~Install();
    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path bin() const { return m_root / "bin"; }
    // Writes the stored form of plain to data/hashdb.dbf.
    void writeDatabase(const std::string& plain);
    void writeStoredDatabase(const std::string& stored);
    void removeDatabase();
    void setSetting(const char16_t* name, uint32_t value);
    // Creates a file below the root; returns its Windows-form path.
    std::u16string writeFile(const std::string& relative, const std::string& content);

private:
    std::filesystem::path m_root;
    std::filesystem::path m_previousDirectory;
};

// MD5 text (upper case) of some bytes.
std::string Md5Upper(const std::string& data);

// A request whose messages go to the recorder; made current for the test.
struct RequestScope {
    explicit RequestScope(const Recorder& recorder, int32_t scanType = 1036);
    ~RequestScope();
    ScanRequest request{};
};

inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace enginetest
