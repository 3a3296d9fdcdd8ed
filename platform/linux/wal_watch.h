// A look at a registry file's write-ahead-log index without a system call.
// SQLite keeps two copies of the index header at the start of the "-shm"
// file, mapped by every connection, and a writer rewrites both at every
// commit (and a checkpoint that restarts the log changes its salts). While
// those bytes stay as they were, no commit has happened since they were
// taken, so what a reader cached is still what the file says.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::regstore {

class WalWatch {
public:
    WalWatch() = default;
    WalWatch(const WalWatch&) = delete;
    WalWatch& operator=(const WalWatch&) = delete;
    ~WalWatch() { detach(); }

    // Maps the index of databasePath read-only; false when there is none
    // (the file is not in WAL mode, or cannot be opened).
    bool attach(const std::string& databasePath);
    void detach();
    bool attached() const { return m_map != nullptr; }

    // Remembers the header as it is now; take it before reading the data
    // version, so a commit in between is seen as a change.
    void snapshot();
    // True when the header is byte for byte the remembered one.
    bool unchanged() const;

private:
    static constexpr size_t kHeaderWords = 12;  // two copies of the 48-byte header
    const volatile uint8_t* m_map = nullptr;
    size_t m_mapBytes = 0;
    std::array<uint64_t, kHeaderWords> m_seen{};
    bool m_haveSnapshot = false;
};

}  // namespace platform::regstore
