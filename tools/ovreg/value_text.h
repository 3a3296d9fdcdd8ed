// How ovreg writes values as text and reads them from the command line.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace ovreg {

// "REG_SZ", "REG_DWORD", ...; a type without a name as "0x10".
std::string typeName(uint32_t type);

// REG_SZ / REG_EXPAND_SZ / REG_MULTI_SZ / REG_DWORD / REG_QWORD / REG_BINARY /
// REG_NONE or a number (decimal or 0x hexadecimal). False when unknown.
bool parseType(std::string_view text, uint32_t& type);

// The data as reg query shows it: text for strings, 0x... for numbers,
// upper-case hex digits for everything else. UTF-8.
std::string displayData(uint32_t type, std::string_view bytes);

// The stored bytes of /d DATA for a type. Strings become UTF-16LE with a
// terminator; REG_MULTI_SZ splits at separator; REG_DWORD and REG_QWORD take
// a decimal or 0x number; REG_BINARY and REG_NONE take hex digits; any other
// type takes a 32-bit number stored in 4 bytes little-endian. False (reason
// in error) for data that does not fit the type.
bool encodeData(uint32_t type, std::string_view data, std::string_view separator,
                std::string& bytes, std::string& error);

// UTF-16LE bytes to text, up to the first NUL.
std::u16string textOf(std::string_view bytes);

}  // namespace ovreg
