// A look at a registry file's write-ahead-log index without a system call.
// SQLite keeps two copies of the index header at the start of the "-shm"
// file, mapped by every connection, and a writer rewrites both at every
// commit (and a checkpoint that restarts the log changes its salts). While
// those bytes stay as they were, no commit has happened since they were
// taken, so what a reader cached is still what the file says.
//
// The header is read through the connection's own mapping of the index,
// never through a descriptor of ours: closing any descriptor of the index
// would drop every lock this process holds on it (POSIX locks belong to the
// process, not the descriptor), and the next program to open the registry
// would then take itself for its only user and rebuild the index under the
// connection's mapping, a bus error at its next read.
#pragma once
#include <sqlite3.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::regstore {

class WalWatch {
public:
    WalWatch() = default;
    WalWatch(const WalWatch&) = delete;
    WalWatch& operator=(const WalWatch&) = delete;
    ~WalWatch() { detach(); }

    // Takes the index as the connection has it mapped; false when it has
    // none (the file is not in WAL mode, or no read has mapped it yet). The
    // mapping is the connection's: detach before the connection is closed.
    bool attach(sqlite3* db);
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
    std::array<uint64_t, kHeaderWords> m_seen{};
    bool m_haveSnapshot = false;
};

}  // namespace platform::regstore
