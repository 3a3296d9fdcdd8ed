#include "platform/linux/wal_watch.h"

#include <atomic>
#include <cstring>

namespace platform::regstore {

namespace {

// The size of the regions the log index is mapped in (WALINDEX_PGSZ); the
// first one holds the header.
constexpr int kIndexRegionBytes = 32768;

}  // namespace

bool WalWatch::attach(sqlite3* db) {
    detach();
    if (!db) return false;
    // Only a connection in WAL mode has an index; asking any other for one
    // would make the VFS create it.
    sqlite3_stmt* mode = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr) == SQLITE_OK &&
        sqlite3_step(mode) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(mode, 0);
        wal = text && std::strcmp(reinterpret_cast<const char*>(text), "wal") == 0;
    }
    sqlite3_finalize(mode);
    if (!wal) return false;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap) {
        return false;
    }
    // Region 0 as the connection mapped it (no extension: a connection that
    // has not read yet has none, and then there is nothing to watch).
    void volatile* region = nullptr;
    const int rc = file->pMethods->xShmMap(file, 0, kIndexRegionBytes, 0, &region);
    if ((rc != SQLITE_OK && (rc & 0xFF) != SQLITE_READONLY) || !region) return false;
    m_map = static_cast<const volatile uint8_t*>(region);
    m_haveSnapshot = false;
    return true;
}

void WalWatch::detach() {
    m_map = nullptr;
    m_haveSnapshot = false;
}

void WalWatch::snapshot() {
    if (!m_map) return;
    const volatile uint64_t* words = reinterpret_cast<const volatile uint64_t*>(m_map);
    for (size_t i = 0; i < kHeaderWords; ++i) m_seen[i] = words[i];
    std::atomic_thread_fence(std::memory_order_acquire);
    m_haveSnapshot = true;
}

bool WalWatch::unchanged() const {
    if (!m_map || !m_haveSnapshot) return false;
    std::atomic_thread_fence(std::memory_order_acquire);
    const volatile uint64_t* words = reinterpret_cast<const volatile uint64_t*>(m_map);
    uint64_t differ = 0;
    for (size_t i = 0; i < kHeaderWords; ++i) differ |= words[i] ^ m_seen[i];
    return differ == 0;
}

}  // namespace platform::regstore
