// Text forms of a 16-byte MD5 digest.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace names {

// 32 uppercase hex digits, as the engine and the service write them.
std::u16string digestTextUpper(const uint8_t digest[16]);
std::string digestTextUpperAscii(const uint8_t digest[16]);
// The same digits into a caller's array, ended by a zero: nothing is
// allocated (the digest of every file scanned is written out).
void digestDigitsUpper(const uint8_t digest[16], char16_t out[33]);
void digestDigitsUpperAscii(const uint8_t digest[16], char out[33]);

// 32 lowercase hex digits, as quarantine records name files.
std::u16string digestTextLower(const uint8_t digest[16]);

// True for exactly 32 hex digits of either case.
bool isDigestText(std::string_view text);

}  // namespace names
