// Text encodings. In memory every program keeps UTF-16 (char16_t); files and
// the host speak UTF-8. This platform's "ANSI" code page is UTF-8 (65001).
//
// The conversions are lossless for host names: a byte that is not part of
// valid UTF-8 becomes a lone surrogate U+DC80..U+DCFF on the way in and the
// same byte again on the way out, so a file whose name is not valid UTF-8
// can still be named, opened and reported.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline constexpr uint32_t kAnsiCodePage = 65001;

// UTF-8 (possibly invalid) to UTF-16; invalid bytes become U+DC80 + byte.
std::u16string toUtf16(std::string_view utf8);

// UTF-16 to UTF-8; U+DC80..U+DCFF go back to their raw byte, any other
// unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

// The bytes of UTF-16 text as a UTF-16LE file holds them, whatever the
// host's byte order.
std::string toUtf16LeBytes(std::u16string_view utf16);

// The system "ANSI" code page text of a UTF-16 string (UTF-8 here).
inline std::string toAnsi(std::u16string_view utf16) { return toUtf8(utf16); }
inline std::u16string fromAnsi(std::string_view ansi) { return toUtf16(ansi); }

// Length in UTF-16 units of a NUL-terminated string (0 for null).
size_t length16(const char16_t* text);

// Copies at most capacity-1 units and terminates; returns units copied.
size_t copy16(char16_t* dest, size_t capacity, std::u16string_view src);

// Lower/upper case in place for ASCII and Latin-1/basic letters, as
// _wcslwr does for the characters our names use.
char16_t toLower16(char16_t c);
char16_t toUpper16(char16_t c);
void lowerInPlace(char16_t* text, size_t maxUnits);
std::u16string toLower(std::u16string_view text);
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);

// printf-style formatting into UTF-16, as vswprintf does on Windows:
// %s and %ls take a char16_t* (a null pointer prints "(null)"), %hs and %S a
// char*, %c a char16_t, %d %i %u %x %X %o %p %% with flags, width,
// precision and the h, l, ll, z length modifiers. Never throws.
std::u16string vformat16(const char16_t* format, va_list args);
std::u16string format16(const char16_t* format, ...);

// Convenience literal conversion for ASCII-only text.
std::u16string ascii16(std::string_view ascii);

}  // namespace platform
