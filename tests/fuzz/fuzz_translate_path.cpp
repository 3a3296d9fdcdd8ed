// TranslatePath and RemoveBadChars over arbitrary UTF-16 text (command
// lines, service image paths, registry values).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/engine_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
    text.push_back(u'\0');

    std::u16string cut = text;
    auto translated = TranslatePath(cut.data());
    if (translated) {
        size_t n = 0;
        while (n < 2048 && translated[n]) ++n;
        if (n >= 2048) abort();  // the result is always terminated inside its buffer
    }

    std::u16string args = text;
    const std::u16string before(args.c_str());
    char16_t* kept = RemoveBadChars(args.data());
    if (kept && before.rfind(std::u16string(kept), 0) != 0) abort();  // only ever shortened
    return 0;
}
