// The updater's reading of what the update server sends: the checksum file
// (first byte 0) or the database (first byte 1).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/ovUpdate/update_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string reason;
    if (data[0] == 0) {
        std::string digest;
        if (ParseSha256File(bytes, digest, reason)) {
            if (digest.size() != 64) abort();
            for (char c : digest)
                if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) abort();
        } else if (reason.empty()) {
            abort();
        }
    } else {
        size_t hashes = 0;
        const bool ok = CheckDatabaseBytes(bytes, hashes, reason);
        if (ok && (hashes == 0 || hashes * 32 > bytes.size())) abort();
        if (!ok && reason.empty()) abort();
    }
    return 0;
}
