// The index of a stored database text read in pieces: for any text, piece
// size and split into halves it answers as the index of the whole plain
// text, up to the text's end, does.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/hash_index.h"

namespace {

constexpr uint8_t kKey = 0xD0;

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

// First byte: the piece size (1-64 bytes) and, in its top bit, whether the
// text is read in two halves. Then the stored text; short reads of at most
// 1-16 bytes as the second byte says.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    names::HashIndex::Pieces pieces;
    pieces.pieceBytes = 1 + (data[0] & 63);
    pieces.twoHalvesFrom = (data[0] & 128) ? 2 : UINT64_MAX;
    const size_t most = 1 + (data[1] & 15);
    const std::string stored(reinterpret_cast<const char*>(data) + 2, size - 2);
    auto read = [&](uint64_t offset, char* into, size_t bytes, size_t& got) {
        got = offset >= stored.size() ? 0 : std::min({bytes, most, stored.size() - offset});
        std::memcpy(into, stored.data() + offset, got);
        return true;
    };
    names::HashIndex fromPieces;
    if (!fromPieces.buildFromStored(stored.size(), kKey, read, pieces)) abort();

    // The plain text ends at the first byte stored as zero or as the key.
    std::string plain;
    for (char c : stored) {
        if (c == 0 || static_cast<uint8_t>(c) == kKey) break;
        plain.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ kKey));
    }
    names::HashIndex whole;
    whole.build(plain);
    if (fromPieces.windowCount() != whole.windowCount()) abort();
    if (fromPieces.longRunBytes() != whole.longRunBytes()) abort();
    size_t tried = 0;
    for (size_t i = 0; i + 32 <= plain.size() && tried < 64; ++i) {
        if (!std::all_of(plain.begin() + i, plain.begin() + i + 32, isHex)) continue;
        ++tried;
        std::string hash = plain.substr(i, 32);
        if (fromPieces.contains(hash) != whole.contains(hash) || !whole.contains(hash)) abort();
        hash[31] = hash[31] == '0' ? '1' : '0';
        if (fromPieces.contains(hash) != whole.contains(hash)) abort();
    }
    return 0;
}
