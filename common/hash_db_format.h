// The hash database file: a text in which every known-bad MD5 stands as 32
// uppercase hex digits, stored with every byte XOR-ed with one key byte.
// The engine, the service and ovdb all read and write it through here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace names {

inline constexpr char16_t kDatabaseRelativePath[] = u"..\\data\\hashdb.dbf";
inline constexpr char16_t kPlainListRelativePath[] = u"..\\data\\hmem.tmp";

// The key string the key byte is derived from.
inline constexpr char kDatabaseKeyString[] = "7d1e4a09c3b85f62e0a9d4173bc58e21";

// acc = acc * 65599 + c over the key string (mod 2^32); the low 8 bits.
uint8_t databaseKeyByte();

// XORs each stored byte with the key byte up to the first zero byte, which
// ends the text (what stands behind it is never seen).
std::string unscrambleDatabaseText(std::string_view stored);

// The bytes of stored[0..size) before the text ends: at its first zero
// byte and, when key is not zero, at its first byte equal to key (which
// reads as a zero byte).
size_t storedTextLength(const char* stored, size_t size, uint8_t key);

// The stored form of a plain text. Fails (false, reason in *error) when the
// plain text holds the key byte or a zero byte, since the stored form would
// then hold a zero byte and the text would end there.
bool scrambleDatabaseText(std::string_view plain, std::string& stored, std::string* error);

}  // namespace names
