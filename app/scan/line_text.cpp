#include "app/scan/line_text.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

char narrowUnit(char16_t c) { return c == u'\n' || c == u'\r' ? '?' : static_cast<char>(c); }

}  // namespace

#if defined(__SSE2__)

// Aligned reads of 16 bytes never reach into a page the text does not
// touch, but they may read past its end within its last 16 bytes: the
// address sanitizer is told that is intended.
__attribute__((no_sanitize("address"))) size_t UnitsBeforeZero(const char16_t* text) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(text);
    if (address % 2 != 0) {
        size_t n = 0;
        while (text[n]) ++n;
        return n;
    }
    // The reads are written out here, not in a helper, so that none of
    // them is checked.
    const char* block = reinterpret_cast<const char*>(address & ~uintptr_t{15});
    const __m128i zero = _mm_setzero_si128();
    __m128i units = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    // The bytes of the first block before the text do not count.
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero))) &
                    (~0u << (address & 15));
    while (mask == 0) {
        block += 16;
        units = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero)));
    }
    return static_cast<size_t>(block + __builtin_ctz(mask) - reinterpret_cast<const char*>(text)) /
           2;
}

bool NarrowAsciiLine(const char16_t* text, size_t length, char* out) {
    const __m128i lineFeed = _mm_set1_epi16(u'\n');
    const __m128i carriageReturn = _mm_set1_epi16(u'\r');
    const __m128i question = _mm_set1_epi16(u'?');
    __m128i seen = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        seen = _mm_or_si128(seen, units);
        const __m128i breaks =
            _mm_or_si128(_mm_cmpeq_epi16(units, lineFeed), _mm_cmpeq_epi16(units, carriageReturn));
        units = _mm_or_si128(_mm_andnot_si128(breaks, units), _mm_and_si128(breaks, question));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
    }
    // Any unit of 0x80 or more has a bit above the low seven.
    uint16_t high = 0;
    uint16_t lanes[8];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), seen);
    for (uint16_t lane : lanes) high |= lane;
    for (; i < length; ++i) {
        high |= text[i];
        out[i] = narrowUnit(text[i]);
    }
    return high < 0x80;
}

#else

size_t UnitsBeforeZero(const char16_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

bool NarrowAsciiLine(const char16_t* text, size_t length, char* out) {
    char16_t high = 0;
    for (size_t i = 0; i < length; ++i) {
        high |= text[i];
        out[i] = narrowUnit(text[i]);
    }
    return high < 0x80;
}

#endif
