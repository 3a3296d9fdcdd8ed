#include "service/hash_list.h"

#include <cstdio>
#include <vector>

#include "common/hash_db_format.h"
#include "platform/error.h"
#include "service/service_log.h"
#include "service/service_state.h"

namespace ovsvc {

uint8_t hashListKeyByte() {
    uint8_t value = 0;
    for (const char* c = kHashDatabaseKeyString; *c; ++c)
        value = static_cast<uint8_t>(value * 63 + static_cast<uint8_t>(*c));
    return value;
}

void ScrambleBuffer(uint8_t* buffer, size_t length) {
    const uint8_t key = hashListKeyByte();
    for (size_t i = 0; i < length && buffer[i] != 0; ++i) buffer[i] ^= key;
}

std::string piecesForIndex(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 1);
    size_t at = 0;
    while (at < text.size()) {
        // One read of a line: up to 511 bytes, ending after a line feed.
        size_t end = at;
        while (end < text.size() && end - at < kHashListPieceBytes) {
            if (text[end++] == '\n') break;
        }
        std::string_view piece = text.substr(at, end - at);
        size_t zero = piece.find('\0');
        out.append(piece.substr(0, zero));
        if (out.empty() || out.back() != '\n') out += '\n';
        at = end;
    }
    return out;
}

bool HashList::contains(std::string_view hashText) const {
    return m_present && hashText.size() == 32 && m_index.contains(hashText);
}

void HashList::open(std::string_view text, platform::File file) {
    // Lines that fit one piece and hold no zero byte need no copy: line
    // feeds already end every piece.
    bool simple = text.find('\0') == std::string_view::npos;
    for (size_t at = 0; simple && at < text.size();) {
        size_t feed = text.find('\n', at);
        size_t end = feed == std::string_view::npos ? text.size() : feed + 1;
        if (end - at > kHashListPieceBytes) simple = false;
        at = end;
    }
    if (simple)
        m_index.build(text);
    else
        m_index.build(piecesForIndex(text));
    m_file = std::move(file);
    m_present = true;
}

void HashList::close() {
    m_present = false;
    m_index.clear();
    m_file = platform::File();
}

void FlipFile() {
    HashList& list = serviceState().hashList;
    list.close();

    logText("FlipFile: open file for reading...");
    platform::File database;
    uint32_t rc = platform::File::open(names::kDatabaseRelativePath,
                                       platform::kGenericRead | platform::kGenericWrite,
                                       platform::kShareRead | platform::kShareWrite,
                                       platform::Disposition::OpenExisting, database);
    uint64_t size = 0;
    if (rc == 0) rc = database.size(size);
    if (rc != 0) {
        logFormat("FlipFile:  ERROR %d\n", static_cast<int>(rc));
        return;
    }
    logText("FlipFile: allocation memory...");
    std::vector<uint8_t> block;
    if (size > 0xFFFFFFFFu) {
        logFormat("FlipFile:  ERROR %d\n", static_cast<int>(platform::kErrorNotEnoughMemory));
        return;
    }
    try {
        block.assign(static_cast<size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        logFormat("FlipFile:  ERROR %d\n", static_cast<int>(platform::kErrorNotEnoughMemory));
        return;
    }
    logText("FlipFile: OK\n");
    logText("FlipFile: reading file...");
    size_t done = 0;
    while (done < block.size()) {
        uint32_t got = 0;
        uint32_t want = static_cast<uint32_t>(std::min<size_t>(block.size() - done, 1u << 30));
        rc = database.read(block.data() + done, want, got);
        if (rc != 0 || got == 0) {
            logFormat("FlipFile:  ERROR %d\n",
                      static_cast<int>(rc != 0 ? rc : platform::kErrorHandleEof));
            return;
        }
        done += got;
    }
    logText("FlipFile: OK\n");
    logText("FlipFile: encrypt data...");
    ScrambleBuffer(block.data(), block.size());
    database = platform::File();
    logText("FlipFile: OK\n");

    logText("FlipFile: open file for writting...");
    platform::File output;
    rc = platform::File::open(
        names::kPlainListRelativePath, platform::kGenericRead | platform::kGenericWrite,
        platform::kShareRead | platform::kShareWrite, platform::Disposition::CreateAlways, output);
    if (rc != 0) {
        logFormat("FlipFile:  ERROR %d\n", static_cast<int>(rc));
        return;
    }
    logText("FlipFile: OK\n");
    std::fputs("writting data...", stdout);
    done = 0;
    while (done < block.size()) {
        uint32_t put = 0;
        uint32_t want = static_cast<uint32_t>(std::min<size_t>(block.size() - done, 1u << 30));
        rc = output.write(block.data() + done, want, put);
        if (rc != 0 || put == 0) {
            logFormat(" ERROR %d\n", static_cast<int>(rc != 0 ? rc : platform::kErrorDiskFull));
            return;
        }
        done += put;
    }
    output = platform::File();
    logText("FlipFile: OK\n");

    platform::File stream;
    rc = platform::File::open(
        names::kPlainListRelativePath, platform::kGenericRead | platform::kGenericWrite,
        platform::kShareRead | platform::kShareWrite, platform::Disposition::OpenExisting, stream);
    if (rc != 0) {
        logFormat("FlipFile:  open flip db file:%d...\n", static_cast<int>(rc));
        logFlush();
        return;
    }
    list.open(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()),
              std::move(stream));
    logText("FlipFile:  file OK...\n");
}

}  // namespace ovsvc
