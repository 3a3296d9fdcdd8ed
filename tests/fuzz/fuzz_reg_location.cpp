// ConvertRegToStr over the data of any registry value of the autostart
// places (as the registry scan reads it: up to 1024 bytes taken as UTF-16,
// ended by two spare zero units). The result is a terminated string inside
// its 1024 units: the value's text in lower case, or the system folder
// joined with it, cut at 259 units.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/threat_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kDataBytes = 1024;
    constexpr size_t kResultUnits = 1024;
    char16_t value[kDataBytes / 2 + 2] = {};
    std::memcpy(value, data, size < kDataBytes ? size : kDataBytes);

    std::unique_ptr<char16_t[]> path = ConvertRegToStr(value);
    if (!path) return 0;
    size_t n = 0;
    while (n < kResultUnits && path[n]) ++n;
    if (n >= kResultUnits) abort();  // always terminated inside its buffer
    const size_t inputLength = std::u16string_view(value).size();
    if (n != inputLength && n > 259) abort();  // the text itself, or the joined form cut at 259
    return 0;
}
