// The hash database of a scan run: loaded from "..\data\hashdb.dbf" below
// the program folder, read through its scrambling key, searched as plain text.
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "common/hash_db_format.h"
#include "common/hash_index.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/large_memory.h"

namespace {

// A block for the database bytes, taken from the system in huge pages.
class TextBlock {
public:
    TextBlock() = default;
    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;
    TextBlock& operator=(TextBlock&& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_bytes, other.m_bytes);
        return *this;
    }
    ~TextBlock() { reset(); }

    bool allocate(size_t bytes) {
        reset();
        m_data = static_cast<char*>(platform::allocateLarge(bytes));
        m_bytes = m_data ? bytes : 0;
        return m_data != nullptr;
    }
    void reset() {
        platform::freeLarge(m_data, m_bytes);
        m_data = nullptr;
        m_bytes = 0;
    }
    char* get() const { return m_data; }
    explicit operator bool() const { return m_data != nullptr; }
    char& operator[](size_t i) const { return m_data[i]; }

private:
    char* m_data = nullptr;
    size_t m_bytes = 0;
};

// The database text of the running scan: the file's bytes and one zero byte.
struct Database {
    TextBlock bytes;
    size_t size = 0;
    size_t textLength = 0;  // up to the first byte that reads as zero
    // What each stored byte is XORed with to read as the text: zero until
    // the text is unscrambled.
    uint8_t key = 0;
    // Answers the lookups of hash texts without searching the whole text
    // for each file; it keeps the meaning of a substring search.
    names::HashIndex index;
    bool indexed = false;
};

Database g_database;

uint32_t ReadFromFile(platform::File& file, void* buffer, uint32_t size, uint32_t& got) {
    return file.read(buffer, size, got);
}

DatabaseReader g_readDatabase = ReadFromFile;

// Bytes before the first byte of text[0..size) equal to end.
size_t TextLength(const char* text, size_t size, uint8_t end) {
    const void* found = std::memchr(text, end, size);
    return found ? static_cast<size_t>(static_cast<const char*>(found) - text) : size;
}

}  // namespace

void SetDatabaseReader(DatabaseReader reader) { g_readDatabase = std::move(reader); }

void ResetDatabaseReader() { g_readDatabase = ReadFromFile; }

uint8_t DatabaseKeyByte() { return names::databaseKeyByte(); }

int32_t LoadDbFileData() {
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData start");
    UnloadOVData();

    char16_t installPath[130] = {};
    uint32_t pathSize = sizeof installPath;
    int32_t read = ReadMachineValue(names::kProductKey, names::kValuePath, installPath, &pathSize);
    installPath[129] = 0;
    if (read == 0 && installPath[0]) (void)platform::setCurrentDirectory(installPath);
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData Current Dir: %s (%d)", installPath, read);
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData DEF DB File: %s", names::kDatabaseRelativePath);

    platform::File file;
    uint32_t error =
        platform::File::open(names::kDatabaseRelativePath, platform::kGenericRead,
                             platform::kShareRead, platform::Disposition::OpenExisting, file);
    if (error != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData:Open DB File Error %d", static_cast<int>(error));
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData Open File OK");

    uint64_t size = 0;
    error = file.size(size);
    TextBlock bytes;
    if (error == 0) {
        if (size >= 0xFFFFFFFFu) {
            error = platform::kErrorNotEnoughMemory;
        } else {
            if (!bytes.allocate(size + 1)) error = platform::kErrorNotEnoughMemory;
        }
    }
    if (error != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Allocation Memory Error %d",
                  static_cast<int>(error));
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Allocation Memory Ok (size: %d)",
              static_cast<int>(size));

    uint64_t done = 0;
    while (done < size) {
        uint32_t got = 0;
        error = g_readDatabase(file, bytes.get() + done, static_cast<uint32_t>(size - done), got);
        if (error != 0 || got == 0) break;
        done += got;
    }
    if (error != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Read File Error %d", static_cast<int>(error));
        return 0;
    }
    bytes[done] = 0;
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Load File Ok");
    g_database.bytes = std::move(bytes);
    g_database.size = static_cast<size_t>(done);
    g_database.textLength = TextLength(g_database.bytes.get(), g_database.size, 0);
    return 1;
}

int32_t UnscrambleDbText() {
    if (!g_database.bytes || g_database.key != 0) return 1;
    // The bytes stay as stored and are read through the key, which spares a
    // pass that rewrites tens of megabytes. A zero byte in the stored form ends the text:
    // nothing behind it is seen. A stored key byte unscrambles to a zero
    // byte, which ends the text too.
    const uint8_t key = names::databaseKeyByte();
    g_database.textLength = TextLength(g_database.bytes.get(), g_database.textLength, key);
    g_database.key = key;
    g_database.index.build(std::string_view(g_database.bytes.get(), g_database.textLength), key);
    g_database.indexed = true;
    return 1;
}

void UnloadOVData() {
    g_database.bytes.reset();
    g_database.size = 0;
    g_database.textLength = 0;
    g_database.key = 0;
    g_database.index.clear();
    g_database.indexed = false;
}

bool DatabaseContains(const char* hashText) {
    if (!g_database.bytes || !hashText || !*hashText) return false;
    const std::string_view hash(hashText);
    bool hashShaped = hash.size() == 32;
    for (char c : hash)
        hashShaped = hashShaped && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    if (g_database.indexed && hashShaped) return g_database.index.contains(hash);
    // Searched as stored, for the hash as it would be stored.
    std::string stored(hash);
    for (char& c : stored) c = static_cast<char>(static_cast<uint8_t>(c) ^ g_database.key);
    std::string_view text(g_database.bytes.get(), g_database.textLength);
    return text.find(stored) != std::string_view::npos;
}
