// Host names and report texts cross between UTF-8 and UTF-16 in both
// directions; bytes that are not UTF-8 must survive the round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (platform::toUtf8(platform::toUtf16(bytes)) != bytes) abort();
    // Any UTF-16 sequence converts without fault, and a format string from
    // outside is never used as one: only texts are formatted here.
    std::u16string wide(reinterpret_cast<const char16_t*>(data), size / 2);
    std::string narrow = platform::toUtf8(wide);
    std::u16string back = platform::toUtf16(narrow);
    (void)platform::format16(u"%s", back.c_str());
    return 0;
}
