// ovdb's reading of hash lists someone else wrote (md5sum, .hdb, BSD, plain).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ovdb/hash_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> hashes;
    std::vector<BadListLine> bad;
    ParseHashList(text, hashes, bad);
    for (const std::string& h : hashes) {
        if (h.size() != 32) abort();
        for (char c : h)
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) abort();
    }
    for (size_t i = 1; i < bad.size(); ++i)
        if (bad[i].number <= bad[i - 1].number) abort();
    return 0;
}
