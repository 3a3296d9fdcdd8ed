#include "platform/linux/registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/error.h"
#include "platform/linux/fork_generation.h"
#include "platform/linux/wal_watch.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform::regstore {

namespace {

// Long enough for a writer that holds the file while another program saves
// a large record; a read never waits on a writer in WAL mode.
constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyRetries = 5;
// The busy timeout new connections get (tests shorten it).
std::atomic<int> g_busyTimeoutMs{kBusyTimeoutMs};
// The cache is dropped when it grows past this many keys, so a program that
// walks the whole registry does not keep all of it in memory.
constexpr size_t kCacheKeyLimit = 4096;
// A reader that finds the log index unchanged trusts its cache without a
// system call for this long; then it looks at the file itself again (the
// file may have been replaced, which no commit would show).
constexpr auto kQuickCheckWindow = std::chrono::milliseconds(100);

// Moves at every drop of this process's cache; only ever counts up.
std::atomic<uint64_t>& localChanges() {
    static std::atomic<uint64_t> count{0};
    return count;
}

constexpr const char* kSchemaSql =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER,"
    " hive INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " lpath TEXT NOT NULL,"
    " UNIQUE(hive, lpath));"
    "CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(parent);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " lname TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, lname));"
    "INSERT OR IGNORE INTO reg_keys(parent, hive, name, lpath) VALUES"
    " (NULL, 0, 'HKEY_LOCAL_MACHINE', ''), (NULL, 1, 'HKEY_USERS', ''),"
    " (NULL, 2, 'HKEY_CURRENT_CONFIG', '');";

uint32_t errorFromSqlite(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return kErrorSuccess;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return kErrorAccessDenied;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return kErrorBusy;
        case SQLITE_FULL:
            return kErrorDiskFull;
        case SQLITE_NOMEM:
            return kErrorNotEnoughMemory;
        case SQLITE_TOOBIG:
            return kErrorInvalidParameter;
        default:
            return kErrorRegistryIoFailed;
    }
}

bool isBusy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

std::string utf8Of(std::u16string_view text) { return toUtf8(text); }

std::u16string lowerPath(std::u16string_view path) { return toLower(path); }

// A statement borrowed from the connection's cache; reset when the use ends
// so that it holds no read snapshot open.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    ~StatementUse() {
        if (m_stmt) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

    sqlite3_stmt* get() const { return m_stmt; }
    void bindInt(int i, int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bindText(int i, const std::string& v) {
        sqlite3_bind_text(m_stmt, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    }
    void bindBlob(int i, std::string_view v) {
        // A non-null pointer keeps an empty value a zero-length blob, not NULL.
        static const char kEmpty = 0;
        sqlite3_bind_blob(m_stmt, i, v.empty() ? &kEmpty : v.data(), int(v.size()),
                          SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(m_stmt); }
    int64_t columnInt(int i) const { return sqlite3_column_int64(m_stmt, i); }
    std::string columnBytes(int i) const {
        const void* p = sqlite3_column_blob(m_stmt, i);
        int n = sqlite3_column_bytes(m_stmt, i);
        return p ? std::string(static_cast<const char*>(p), size_t(n)) : std::string();
    }
    std::u16string columnName(int i) const {
        const unsigned char* p = sqlite3_column_text(m_stmt, i);
        int n = sqlite3_column_bytes(m_stmt, i);
        return p ? toUtf16(std::string_view(reinterpret_cast<const char*>(p), size_t(n)))
                 : std::u16string();
    }

private:
    sqlite3_stmt* m_stmt;
};

// Owns the SQLite connection and its prepared statements.
class Connection {
public:
    Connection(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}
    ~Connection() {
        if (m_abandoned) return;
        for (auto& [sql, stmt] : m_statements) sqlite3_finalize(stmt);
        if (m_db) sqlite3_close_v2(m_db);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A connection inherited across fork() must not be closed by the child
    // (closing could checkpoint or drop locks the parent relies on): the
    // child forgets it and opens its own.
    void abandon() { m_abandoned = true; }

    sqlite3* db() const { return m_db; }

    // Cached prepared statement; null on error (rc set).
    sqlite3_stmt* statement(const char* sql, int& rc) {
        auto it = m_statements.find(sql);
        if (it != m_statements.end()) {
            rc = SQLITE_OK;
            return it->second;
        }
        sqlite3_stmt* stmt = nullptr;
        rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return nullptr;
        }
        m_statements.emplace(sql, stmt);
        return stmt;
    }

    int exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }

    bool readOnly = false;
    bool hasSchema = false;

private:
    sqlite3* m_db;
    bool m_abandoned = false;
    std::string m_path;
    std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

constexpr const char* kSqlDataVersion = "PRAGMA data_version";
constexpr const char* kSqlHasSchema =
    "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='reg_values'";
constexpr const char* kSqlFindKey = "SELECT id FROM reg_keys WHERE hive=?1 AND lpath=?2";
constexpr const char* kSqlInsertKey =
    "INSERT INTO reg_keys(parent, hive, name, lpath) VALUES(?1, ?2, ?3, ?4)";
constexpr const char* kSqlValues =
    "SELECT name, type, data FROM reg_values WHERE key=?1 ORDER BY id";
constexpr const char* kSqlSubKeys = "SELECT name FROM reg_keys WHERE parent=?1 ORDER BY id";
constexpr const char* kSqlHasSubKey = "SELECT 1 FROM reg_keys WHERE parent=?1 LIMIT 1";
constexpr const char* kSqlUpsertValue =
    "INSERT INTO reg_values(key, name, lname, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key, lname) DO UPDATE SET type=excluded.type, data=excluded.data";
constexpr const char* kSqlDeleteValue = "DELETE FROM reg_values WHERE key=?1 AND lname=?2";
constexpr const char* kSqlDeleteTreeValues =
    "DELETE FROM reg_values WHERE key IN (SELECT id FROM reg_keys WHERE hive=?1 AND"
    " (lpath=?2 OR (lpath>=?3 AND lpath<?4)))";
constexpr const char* kSqlDeleteTreeKeys =
    "DELETE FROM reg_keys WHERE hive=?1 AND (lpath=?2 OR (lpath>=?3 AND lpath<?4))";

struct KeyEntry {
    ValueList values;
    std::unordered_map<std::u16string, size_t> index;  // lower-cased name -> position
    NameList subKeys;
};

class Store {
public:
    uint32_t keyExists(const KeyPlace& key) {
        std::lock_guard lock(m_mutex);
        int64_t id = 0;
        return findKey(key, id);
    }

    uint32_t listValues(const KeyPlace& key, ValueList& out) {
        std::lock_guard lock(m_mutex);
        KeyEntry* entry = nullptr;
        uint32_t rc = loadValues(key, entry);
        if (rc == 0) out = entry->values;
        return rc;
    }

    uint32_t getValue(const KeyPlace& key, std::u16string_view name, Value& out) {
        std::lock_guard lock(m_mutex);
        KeyEntry* entry = nullptr;
        uint32_t rc = loadValues(key, entry);
        if (rc != 0) return rc;
        auto it = entry->index.find(toLower(name));
        if (it == entry->index.end()) return kErrorFileNotFound;
        out = (*entry->values)[it->second];
        return 0;
    }

    uint32_t listSubKeys(const KeyPlace& key, NameList& out) {
        std::lock_guard lock(m_mutex);
        int64_t id = 0;
        uint32_t rc = findKey(key, id);
        if (rc != 0) return rc;
        KeyEntry& entry = m_entries[id];
        if (!entry.subKeys) {
            int src = SQLITE_OK;
            StatementUse q(m_conn->statement(kSqlSubKeys, src));
            if (!q.get()) return errorFromSqlite(src);
            q.bindInt(1, id);
            auto names = std::make_shared<std::vector<std::u16string>>();
            while ((src = q.step()) == SQLITE_ROW) names->push_back(q.columnName(0));
            if (src != SQLITE_DONE) return errorFromSqlite(src);
            entry.subKeys = std::move(names);
        }
        out = entry.subKeys;
        return 0;
    }

    uint32_t createKey(const KeyPlace& key) {
        std::lock_guard lock(m_mutex);
        return write([&] {
            int64_t id = 0;
            return ensureKeyRow(key, id);
        });
    }

    uint32_t setValue(const KeyPlace& key, std::u16string_view name, uint32_t type,
                      std::string_view data, bool createMissing) {
        std::lock_guard lock(m_mutex);
        return write([&]() -> uint32_t {
            int64_t id = 0;
            uint32_t rc = createMissing ? ensureKeyRow(key, id) : findKeyRow(key, id);
            if (rc == kErrorFileNotFound) return kErrorKeyDeleted;
            if (rc != 0) return rc;
            int src = SQLITE_OK;
            StatementUse q(m_conn->statement(kSqlUpsertValue, src));
            if (!q.get()) return errorFromSqlite(src);
            q.bindInt(1, id);
            q.bindText(2, utf8Of(name));
            q.bindText(3, utf8Of(toLower(name)));
            q.bindInt(4, type);
            q.bindBlob(5, data);
            return errorFromSqlite(q.step());
        });
    }

    uint32_t deleteValue(const KeyPlace& key, std::u16string_view name) {
        std::lock_guard lock(m_mutex);
        return write([&]() -> uint32_t {
            int64_t id = 0;
            uint32_t rc = findKeyRow(key, id);
            if (rc != 0) return rc;
            int src = SQLITE_OK;
            StatementUse q(m_conn->statement(kSqlDeleteValue, src));
            if (!q.get()) return errorFromSqlite(src);
            q.bindInt(1, id);
            q.bindText(2, utf8Of(toLower(name)));
            src = q.step();
            if (src != SQLITE_DONE) return errorFromSqlite(src);
            return sqlite3_changes(m_conn->db()) > 0 ? kErrorSuccess : kErrorFileNotFound;
        });
    }

    uint32_t deleteKey(const KeyPlace& key, bool recursive) {
        if (key.path.empty()) return kErrorAccessDenied;
        std::lock_guard lock(m_mutex);
        return write([&]() -> uint32_t {
            int64_t id = 0;
            uint32_t rc = findKeyRow(key, id);
            if (rc != 0) return rc;
            int src = SQLITE_OK;
            if (!recursive) {
                StatementUse q(m_conn->statement(kSqlHasSubKey, src));
                if (!q.get()) return errorFromSqlite(src);
                q.bindInt(1, id);
                src = q.step();
                if (src == SQLITE_ROW) return kErrorAccessDenied;
                if (src != SQLITE_DONE) return errorFromSqlite(src);
            }
            std::string lpath = utf8Of(lowerPath(key.path));
            // Every path below lpath starts with "lpath\" and so sorts in
            // ["lpath\", "lpath]"), since ']' follows '\'.
            std::string from = lpath + "\\";
            std::string to = lpath + "]";
            for (const char* sql : {kSqlDeleteTreeValues, kSqlDeleteTreeKeys}) {
                StatementUse q(m_conn->statement(sql, src));
                if (!q.get()) return errorFromSqlite(src);
                q.bindInt(1, key.hive);
                q.bindText(2, lpath);
                q.bindText(3, from);
                q.bindText(4, to);
                src = q.step();
                if (src != SQLITE_DONE) return errorFromSqlite(src);
            }
            return kErrorSuccess;
        });
    }

    uint32_t integrityCheck() {
        std::lock_guard lock(m_mutex);
        uint32_t rc = ensure(false);
        if (rc != 0) return rc == kErrorRegistryIoFailed ? kErrorRegistryCorrupt : rc;
        int src = SQLITE_OK;
        StatementUse q(m_conn->statement("PRAGMA integrity_check", src));
        if (!q.get()) return kErrorRegistryCorrupt;
        src = q.step();
        if (src != SQLITE_ROW) return kErrorRegistryCorrupt;
        std::string verdict = q.columnBytes(0);
        return verdict == "ok" ? kErrorSuccess : kErrorRegistryCorrupt;
    }

    void reset() {
        std::lock_guard lock(m_mutex);
        dropConnection();
    }

    uint64_t changeCount() {
        std::lock_guard lock(m_mutex);
        if (!quickCheck()) (void)ensure(false);
        return m_changes;
    }

private:
    void clearCache() {
        localChanges().fetch_add(1, std::memory_order_relaxed);
        m_keyIds.clear();
        m_entries.clear();
        m_quickValid = false;
        ++m_changes;
    }

    // A read that may trust the cache: no commit since the last full check
    // (the log index header is as it was), the same file name, the same
    // process, and the last full check is recent. Costs no system call.
    bool quickCheck() const {
        if (!m_quickValid || !m_conn) return false;
        if (detail::forkGeneration() != m_quickForks) return false;
        if (std::chrono::steady_clock::now() - m_quickCheckedAt > kQuickCheckWindow) return false;
        if (!m_watch.unchanged()) return false;
        return isRegistryFilePath(m_path);
    }

    void dropConnection() {
        clearCache();
        m_watch.detach();  // before the connection lets go of the index
        if (m_conn && m_pid != getpid()) {
            m_conn->abandon();
            abandonedConnections().push_back(std::move(m_conn));
        }
        m_conn.reset();
        m_path.clear();
        m_dataVersion = -1;
    }

    // Makes the connection ready for a read (forWrite false) or a write.
    // Returns 0, 2 for a read when there is no registry file, or an error.
    uint32_t ensure(bool forWrite) {
        if (!forWrite && quickCheck()) return 0;
        m_quickValid = false;
        std::string path = registryFilePath();
        if (m_conn && (m_pid != getpid() || path != m_path)) dropConnection();

        struct stat st {};
        bool exists = ::stat(path.c_str(), &st) == 0;
        int statErrno = exists ? 0 : errno;
        // The file was removed or replaced behind our back: start again.
        if (m_conn && (!exists || st.st_dev != m_dev || st.st_ino != m_ino)) dropConnection();

        if (!m_conn) {
            if (!exists && !forWrite) {
                return (statErrno == ENOENT || statErrno == ENOTDIR) ? kErrorFileNotFound
                                                                     : kErrorRegistryIoFailed;
            }
            if (exists && !S_ISREG(st.st_mode)) return kErrorRegistryIoFailed;
            uint32_t rc = openConnection(path);
            if (rc != 0) return rc;
        }

        int src = SQLITE_OK;
        int64_t version = -1;
        // The header is taken before the version is read, so that a commit
        // in between shows as a change. A watch attached only after this
        // read (the connection maps the index at its first read) has no
        // such snapshot yet: the next read makes one.
        const bool watched = m_watch.attached();
        m_watch.snapshot();
        {
            StatementUse q(m_conn->statement(kSqlDataVersion, src));
            if (!q.get()) return errorFromSqlite(src);
            src = q.step();
            if (src != SQLITE_ROW) return errorFromSqlite(src);
            version = q.columnInt(0);
        }
        if (version != m_dataVersion) {
            clearCache();
            m_dataVersion = version;
            if (!m_conn->hasSchema) {
                uint32_t rc = readSchemaState();
                if (rc != 0) return rc;
            }
        }
        if (m_entries.size() > kCacheKeyLimit || m_keyIds.size() > kCacheKeyLimit) clearCache();
        if (forWrite && m_conn->readOnly) return kErrorAccessDenied;
        if (!watched) (void)m_watch.attach(m_conn->db());
        if (!forWrite && watched) {
            m_quickValid = true;
            m_quickForks = detail::forkGeneration();
            m_quickCheckedAt = std::chrono::steady_clock::now();
        }
        return 0;
    }

    uint32_t readSchemaState() {
        int src = SQLITE_OK;
        StatementUse q(m_conn->statement(kSqlHasSchema, src));
        if (!q.get()) return errorFromSqlite(src);
        src = q.step();
        if (src != SQLITE_ROW) return errorFromSqlite(src);
        m_conn->hasSchema = q.columnInt(0) > 0;
        return 0;
    }

    uint32_t openConnection(const std::string& path) {
        sqlite3* db = nullptr;
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        int src = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
        if (src != SQLITE_OK) {
            int sysErr = db ? sqlite3_system_errno(db) : 0;
            sqlite3_close_v2(db);
            return sysErr == EACCES || sysErr == EPERM || sysErr == EROFS ? kErrorAccessDenied
                                                                          : kErrorRegistryIoFailed;
        }
        auto conn = std::make_unique<Connection>(db, path);
        sqlite3_busy_timeout(db, g_busyTimeoutMs.load());
        sqlite3_extended_result_codes(db, 1);
        conn->readOnly = sqlite3_db_readonly(db, "main") == 1;
        m_conn = std::move(conn);
        m_path = path;
        m_pid = getpid();
        m_dataVersion = -1;

        uint32_t rc = 0;
        if (!m_conn->readOnly) rc = prepareWritable();
        if (rc == 0) rc = readSchemaState();
        if (rc != 0) {
            // A reader that may not write the file's folder cannot make the
            // WAL files a reading connection needs (SQLite says read-only directory): its rights,
            // not the file.
            const bool denied = m_conn->readOnly && rc == kErrorAccessDenied;
            dropConnection();
            if (denied) return kErrorAccessDenied;
            return rc == kErrorBusy ? rc : kErrorRegistryIoFailed;
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            m_dev = st.st_dev;
            m_ino = st.st_ino;
        }
        return 0;
    }

    // WAL mode (readers never wait for a writer), synchronous NORMAL (a
    // killed process loses nothing committed), and the tables.
    uint32_t prepareWritable() {
        int src = SQLITE_OK;
        for (int attempt = 0; attempt < kBusyRetries; ++attempt) {
            src = m_conn->exec("PRAGMA journal_mode=WAL");
            if (!isBusy(src)) break;
        }
        if (src != SQLITE_OK) return errorFromSqlite(src);
        m_conn->exec("PRAGMA synchronous=NORMAL");
        // A size limit makes the last writer's close cut the kept log to
        // nothing once it is folded into the file, so the file alone holds
        // every value.
        m_conn->exec("PRAGMA journal_size_limit=1048576");
        // The WAL files stay when the last writer closes, so that a reader
        // without write access to the folder (a user reading root's
        // registry that it may read) still opens it: it cannot create them.
        int persist = 1;
        sqlite3_file_control(m_conn->db(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        uint32_t rc = readSchemaState();
        if (rc != 0 || m_conn->hasSchema) return rc;
        for (int attempt = 0; attempt < kBusyRetries; ++attempt) {
            src = m_conn->exec("BEGIN IMMEDIATE");
            if (isBusy(src)) continue;
            if (src != SQLITE_OK) return errorFromSqlite(src);
            src = m_conn->exec(kSchemaSql);
            if (src == SQLITE_OK) src = m_conn->exec("COMMIT");
            if (src != SQLITE_OK) m_conn->exec("ROLLBACK");
            if (!isBusy(src)) break;
        }
        return errorFromSqlite(src);
    }

    // Runs body inside one write transaction, retrying while another
    // process holds the write lock past the busy timeout.
    template <class Body>
    uint32_t write(Body&& body) {
        uint32_t rc = 0;
        for (int attempt = 0; attempt < kBusyRetries; ++attempt) {
            rc = ensure(true);
            if (rc != 0) return rc;
            int src = m_conn->exec("BEGIN IMMEDIATE");
            if (isBusy(src)) {
                rc = kErrorBusy;
                std::this_thread::sleep_for(std::chrono::milliseconds(10 << attempt));
                continue;
            }
            if (src != SQLITE_OK) return errorFromSqlite(src);
            rc = body();
            if (rc == 0) {
                src = m_conn->exec("COMMIT");
                rc = errorFromSqlite(src);
            }
            if (rc != 0 && !sqlite3_get_autocommit(m_conn->db())) m_conn->exec("ROLLBACK");
            // Our own commits do not move data_version; forget what we read.
            clearCache();
            if (rc != kErrorBusy) return rc;
        }
        return rc;
    }

    // Read side: the key's row id through the cache; 2 when missing.
    uint32_t findKey(const KeyPlace& key, int64_t& id) {
        uint32_t rc = ensure(false);
        if (rc != 0) return rc;
        if (!m_conn->hasSchema) return kErrorFileNotFound;
        std::u16string cacheKey(1, char16_t(u'0' + key.hive));
        cacheKey += lowerPath(key.path);
        auto it = m_keyIds.find(cacheKey);
        if (it == m_keyIds.end()) {
            rc = findKeyRow(key, id);
            if (rc != 0 && rc != kErrorFileNotFound) return rc;
            it = m_keyIds.emplace(std::move(cacheKey), rc == 0 ? id : 0).first;
        }
        id = it->second;
        return id != 0 ? kErrorSuccess : kErrorFileNotFound;
    }

    uint32_t loadValues(const KeyPlace& key, KeyEntry*& out) {
        int64_t id = 0;
        uint32_t rc = findKey(key, id);
        if (rc != 0) return rc;
        KeyEntry& entry = m_entries[id];
        if (!entry.values) {
            int src = SQLITE_OK;
            StatementUse q(m_conn->statement(kSqlValues, src));
            if (!q.get()) return errorFromSqlite(src);
            q.bindInt(1, id);
            auto values = std::make_shared<std::vector<Value>>();
            std::unordered_map<std::u16string, size_t> index;
            while ((src = q.step()) == SQLITE_ROW) {
                Value v;
                v.name = q.columnName(0);
                v.type = uint32_t(q.columnInt(1));
                v.data = q.columnBytes(2);
                index.emplace(toLower(v.name), values->size());
                values->push_back(std::move(v));
            }
            if (src != SQLITE_DONE) return errorFromSqlite(src);
            entry.values = std::move(values);
            entry.index = std::move(index);
        }
        out = &entry;
        return 0;
    }

    // Uncached lookup of a key row (inside or outside a transaction).
    uint32_t findKeyRow(const KeyPlace& key, int64_t& id) {
        int src = SQLITE_OK;
        StatementUse q(m_conn->statement(kSqlFindKey, src));
        if (!q.get()) return errorFromSqlite(src);
        q.bindInt(1, key.hive);
        q.bindText(2, utf8Of(lowerPath(key.path)));
        src = q.step();
        if (src == SQLITE_ROW) {
            id = q.columnInt(0);
            return 0;
        }
        return src == SQLITE_DONE ? kErrorFileNotFound : errorFromSqlite(src);
    }

    // Inside a write transaction: finds or creates the key and its parents.
    uint32_t ensureKeyRow(const KeyPlace& key, int64_t& id) {
        KeyPlace prefix{key.hive, {}};
        uint32_t rc = findKeyRow(prefix, id);
        if (rc != 0) return rc;
        size_t start = 0;
        while (start <= key.path.size() && !key.path.empty()) {
            size_t end = key.path.find(u'\\', start);
            if (end == std::u16string::npos) end = key.path.size();
            std::u16string_view component(key.path.data() + start, end - start);
            prefix.path = key.path.substr(0, end);
            int64_t parent = id;
            rc = findKeyRow(prefix, id);
            if (rc == kErrorFileNotFound) {
                int src = SQLITE_OK;
                StatementUse q(m_conn->statement(kSqlInsertKey, src));
                if (!q.get()) return errorFromSqlite(src);
                q.bindInt(1, parent);
                q.bindInt(2, key.hive);
                q.bindText(3, utf8Of(component));
                q.bindText(4, utf8Of(lowerPath(prefix.path)));
                src = q.step();
                if (src != SQLITE_DONE) return errorFromSqlite(src);
                id = sqlite3_last_insert_rowid(m_conn->db());
            } else if (rc != 0) {
                return rc;
            }
            start = end + 1;
        }
        return 0;
    }

    std::mutex m_mutex;
    std::unique_ptr<Connection> m_conn;
    std::string m_path;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    pid_t m_pid = 0;
    int64_t m_dataVersion = -1;
    WalWatch m_watch;
    bool m_quickValid = false;
    uint64_t m_changes = 0;  // moves at every clearCache
    uint64_t m_quickForks = 0;
    std::chrono::steady_clock::time_point m_quickCheckedAt{};
    std::unordered_map<std::u16string, int64_t> m_keyIds;  // 0 = known missing
    std::unordered_map<int64_t, KeyEntry> m_entries;
    // Connections inherited from a parent process: kept reachable and never
    // closed, in a list that is never destroyed.
    static std::vector<std::unique_ptr<Connection>>& abandonedConnections() {
        static auto* list = new std::vector<std::unique_ptr<Connection>>();
        return *list;
    }
};

Store& store() {
    // Never destroyed, since detached threads may still read at exit; the
    // connection itself is closed at exit so the write-ahead log is folded
    // back into the file.
    static Store* instance = [] {
        auto* s = new Store();
        std::atexit([] { regstore::reset(); });
        return s;
    }();
    return *instance;
}

}  // namespace

uint32_t keyExists(const KeyPlace& key) { return store().keyExists(key); }
uint32_t createKey(const KeyPlace& key) { return store().createKey(key); }
uint32_t listValues(const KeyPlace& key, ValueList& out) { return store().listValues(key, out); }
uint32_t getValue(const KeyPlace& key, std::u16string_view name, Value& out) {
    return store().getValue(key, name, out);
}
uint32_t listSubKeys(const KeyPlace& key, NameList& out) { return store().listSubKeys(key, out); }
uint32_t setValue(const KeyPlace& key, std::u16string_view name, uint32_t type,
                  std::string_view data, bool createMissing) {
    return store().setValue(key, name, type, data, createMissing);
}
uint32_t deleteValue(const KeyPlace& key, std::u16string_view name) {
    return store().deleteValue(key, name);
}
uint32_t deleteKey(const KeyPlace& key, bool recursive) {
    return store().deleteKey(key, recursive);
}
uint32_t integrityCheck() { return store().integrityCheck(); }
uint64_t changeCount() { return store().changeCount(); }
uint64_t localChangeCount() { return localChanges().load(std::memory_order_relaxed); }
void reset() { store().reset(); }

void setBusyTimeout(uint32_t milliseconds) {
    g_busyTimeoutMs = static_cast<int>(std::min<uint32_t>(milliseconds, kBusyTimeoutMs));
    reset();
}

void resetBusyTimeout() {
    g_busyTimeoutMs = kBusyTimeoutMs;
    reset();
}

}  // namespace platform::regstore
