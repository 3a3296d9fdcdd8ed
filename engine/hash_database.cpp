// The hash database of a scan run: loaded from "..\data\hashdb.dbf" below
// the program folder, indexed as it is read, searched as plain text.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/digest_text.h"
#include "common/hash_db_format.h"
#include "common/hash_index.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace {

// The database of the running scan. Its text is not kept in memory: the
// index is built as the file is read, and the file stays open for the rare
// lookup the index cannot answer.
struct Database {
    platform::File file;
    bool loaded = false;
    uint64_t size = 0;  // the bytes read at loading
    // What each stored byte is XORed with to read as the text: zero until
    // the text is unscrambled.
    uint8_t key = 0;
    // Answers the lookups of hash texts without searching the whole text
    // for each file; it keeps the meaning of a substring search. Built at
    // loading, it answers once the text is unscrambled.
    names::HashIndex index;
    bool indexed = false;
};

Database g_database;

uint32_t ReadFromFile(const platform::File& file, uint64_t offset, void* buffer, uint32_t size,
                      uint32_t& got) {
    return file.readAt(offset, buffer, size, got);
}

DatabaseReader g_readDatabase = ReadFromFile;

// Up to `want` bytes of the database file at offset, as many as it has; the
// read's error, or 0.
uint32_t ReadDatabaseBytes(uint64_t offset, char* into, size_t want, size_t& got) {
    got = 0;
    while (got < want) {
        uint32_t more = 0;
        const uint32_t error = g_readDatabase(g_database.file, offset + got, into + got,
                                              static_cast<uint32_t>(want - got), more);
        if (error != 0) return error;
        if (more == 0) break;
        got += more;
    }
    return 0;
}

// Whether the text holds `text`, searched in the file: it ends at the first
// stored zero byte and, once unscrambled, at the first stored key byte too
// (which reads as a zero). A failing read finds nothing.
bool StoredTextContains(std::string_view text) {
    const uint8_t key = g_database.key;
    std::string stored(text);
    for (char& c : stored) c = static_cast<char>(static_cast<uint8_t>(c) ^ key);
    constexpr size_t kPieceBytes = 256 << 10;
    // Each piece is searched with the end of the one before it, so that a
    // match across two pieces is found.
    const size_t overlap = stored.size() - 1;
    std::vector<char> buffer(overlap + kPieceBytes);
    size_t kept = 0;
    for (uint64_t offset = 0; offset < g_database.size;) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(kPieceBytes, g_database.size - offset));
        size_t got = 0;
        char* piece = buffer.data() + kept;
        if (ReadDatabaseBytes(offset, piece, want, got) != 0) return false;
        offset += got;
        const size_t length = names::storedTextLength(piece, got, key);
        const std::string_view searched(buffer.data(), kept + length);
        if (searched.find(stored) != std::string_view::npos) return true;
        if (length < want) return false;  // the text ends here
        kept = std::min(overlap, searched.size());
        std::memmove(buffer.data(), searched.data() + searched.size() - kept, kept);
    }
    return false;
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
    if (error == 0 && size >= 0xFFFFFFFFu) error = platform::kErrorNotEnoughMemory;
    if (error != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Allocation Memory Error %d",
                  static_cast<int>(error));
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Allocation Memory Ok (size: %d)",
              static_cast<int>(size));

    g_database.file = std::move(file);
    g_database.size = size;
    // The first read error of either half of a large file.
    std::atomic<uint32_t> readError{0};
    auto readPiece = [&readError](uint64_t offset, char* into, size_t bytes, size_t& got) {
        uint32_t read = 0;
        const uint32_t failed =
            g_readDatabase(g_database.file, offset, into, static_cast<uint32_t>(bytes), read);
        got = read;
        if (failed == 0) return true;
        uint32_t none = 0;
        readError.compare_exchange_strong(none, failed);
        return false;
    };
    bool built = false;
    try {
        built = g_database.index.buildFromStored(size, names::databaseKeyByte(), readPiece);
    } catch (const std::bad_alloc&) {
        UnloadOVData();
        SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Allocation Memory Error %d",
                  static_cast<int>(platform::kErrorNotEnoughMemory));
        return 0;
    }
    if (!built) {
        UnloadOVData();
        SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Read File Error %d",
                  static_cast<int>(readError.load()));
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData: Load File Ok");
    g_database.loaded = true;
    return 1;
}

int32_t UnscrambleDbText() {
    if (!g_database.loaded) return 1;
    // The stored bytes are read through the key, both by the index (built
    // as the file was read) and by a search of the text.
    g_database.key = names::databaseKeyByte();
    g_database.indexed = true;
    return 1;
}

void UnloadOVData() {
    g_database.file.close();
    g_database.loaded = false;
    g_database.size = 0;
    g_database.key = 0;
    g_database.index.clear();
    g_database.indexed = false;
}

bool DatabaseContains(const char* hashText) {
    if (!g_database.loaded || !hashText || !*hashText) return false;
    const std::string_view hash(hashText);
    bool hashShaped = hash.size() == 32;
    for (char c : hash)
        hashShaped = hashShaped && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    if (g_database.indexed && hashShaped) return g_database.index.contains(hash);
    return StoredTextContains(hash);
}

Md5Result::Listed DatabaseListsDigest(const uint8_t digest[16]) {
    if (!g_database.loaded || !g_database.indexed) return Md5Result::Listed::Unknown;
    return g_database.index.containsDigest(digest) ? Md5Result::Listed::Yes : Md5Result::Listed::No;
}
