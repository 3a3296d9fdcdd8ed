// The service's hash list answers from an index exactly what searching each
// 511-byte piece of each line (up to its first zero byte) would answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/hash_index.h"
#include "service/hash_list.h"

namespace {

bool pieceSearch(std::string_view text, const std::string& hash) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && end - at < ovsvc::kHashListPieceBytes) {
            if (text[end++] == '\n') break;
        }
        std::string piece(text.substr(at, end - at));
        if (std::strstr(piece.c_str(), hash.c_str())) return true;
        at = end;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    names::HashIndex index;
    index.build(ovsvc::piecesForIndex(text));
    // Every 32-digit window of the text, and one digest that is nowhere.
    static const char kHex[] = "0123456789ABCDEF";
    auto isHex = [](char c) { return std::strchr(kHex, c) && c != 0; };
    size_t tried = 0;
    for (size_t i = 0; i + 32 <= text.size() && tried < 64; ++i) {
        bool all = true;
        for (size_t k = 0; k < 32 && all; ++k) all = isHex(text[i + k]);
        if (!all) continue;
        ++tried;
        std::string hash(text.substr(i, 32));
        if (index.contains(hash) != pieceSearch(text, hash)) abort();
    }
    const std::string absent = "0123456789ABCDEF0123456789ABCDEF";
    if (index.contains(absent) != pieceSearch(text, absent)) abort();
    return 0;
}
