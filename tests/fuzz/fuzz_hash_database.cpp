// The hash database as the engine and the service read it: unscramble the
// stored bytes, index the text, and look hashes up. The lookup must agree
// with a plain substring search of the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/hash_db_format.h"
#include "common/hash_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string stored(reinterpret_cast<const char*>(data), size);
    std::string plain = names::unscrambleDatabaseText(stored);
    names::HashIndex index;
    index.build(plain);
    // Every 32-digit window of the text that is a hash text must be found,
    // and a query agrees with the substring search either way.
    for (size_t at = 0; at + 32 <= plain.size() && at < 256; ++at) {
        std::string query = plain.substr(at, 32);
        if (query.find_first_not_of("0123456789ABCDEF") != std::string::npos) continue;
        if (!index.contains(query)) abort();
        query[at % 32] = query[at % 32] == '0' ? '1' : '0';
        if (index.contains(query) != (plain.find(query) != std::string::npos)) abort();
    }
    std::string restored;
    if (names::scrambleDatabaseText(plain, restored, nullptr) &&
        names::unscrambleDatabaseText(restored) != plain)
        abort();
    return 0;
}
