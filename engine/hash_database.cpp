// The hash database of a scan run: loaded from "..\data\hashdb.dbf" below
// the program folder, unscrambled in place, searched as plain text.
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
    size_t textLength = 0;  // up to the first zero byte
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

// Bytes before the first zero byte of text[0..size).
size_t TextLength(const char* text, size_t size) {
    const void* zero = std::memchr(text, 0, size);
    return zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size;
}

// Unscrambles text[0..size) in place and returns the length of the plain
// text before its first zero byte (size when there is none). Eight bytes at
// a time: the database is tens of megabytes and read at every scan.
size_t UnscrambleUpToZero(char* text, size_t size, uint8_t key) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    const uint64_t keys = kOnes * key;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, text + i, 8);
        word ^= keys;
        if (((word - kOnes) & ~word & kHighs) != 0) break;  // a zero among the eight: byte by byte
        std::memcpy(text + i, &word, 8);
    }
    for (; i < size; ++i) {
        text[i] = static_cast<char>(static_cast<uint8_t>(text[i]) ^ key);
        if (text[i] == 0) return i;
    }
    return size;
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
    g_database.textLength = TextLength(g_database.bytes.get(), g_database.size);
    return 1;
}

int32_t UnscrambleDbText() {
    if (!g_database.bytes) return 1;
    char* text = g_database.bytes.get();
    // A zero byte in the stored form ends the text: nothing behind it is
    // seen. A stored key byte unscrambles to a zero byte, which ends the
    // text too; what lies behind it stays unscrambled but is never looked at.
    const size_t end = g_database.textLength;  // found when it was loaded
    g_database.textLength = UnscrambleUpToZero(text, end, names::databaseKeyByte());
    text[end] = 0;
    g_database.index.build(std::string_view(text, g_database.textLength));
    g_database.indexed = true;
    return 1;
}

void UnloadOVData() {
    g_database.bytes.reset();
    g_database.size = 0;
    g_database.textLength = 0;
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
    std::string_view text(g_database.bytes.get(), g_database.textLength);
    return text.find(hash) != std::string_view::npos;
}
