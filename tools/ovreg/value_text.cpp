#include "tools/ovreg/value_text.h"

#include <cstdio>
#include <limits>

#include "platform/registry.h"
#include "platform/text.h"

namespace ovreg {

namespace {

struct TypeName {
    uint32_t type;
    const char* name;
};

constexpr TypeName kTypeNames[] = {
    {0, "REG_NONE"},
    {1, "REG_SZ"},
    {2, "REG_EXPAND_SZ"},
    {3, "REG_BINARY"},
    {4, "REG_DWORD"},
    {5, "REG_DWORD_BIG_ENDIAN"},
    {6, "REG_LINK"},
    {7, "REG_MULTI_SZ"},
    {8, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {11, "REG_QWORD"},
};

bool equalsAsciiIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

// Decimal or 0x hexadecimal, no sign, within max.
bool parseNumber(std::string_view text, uint64_t max, uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (value > (max - uint64_t(digit)) / uint64_t(base)) return false;
        value = value * uint64_t(base) + uint64_t(digit);
    }
    return true;
}

void appendLittleEndian(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

void appendUtf16(std::string& out, std::u16string_view text) {
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    out.append(2, '\0');
}

std::string hexDigits(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

uint64_t littleEndian(std::string_view bytes) {
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;) value = value << 8 | uint8_t(bytes[i]);
    return value;
}

}  // namespace

std::string typeName(uint32_t type) {
    for (const auto& t : kTypeNames)
        if (t.type == type) return t.name;
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", unsigned(type));
    return text;
}

bool parseType(std::string_view text, uint32_t& type) {
    for (const auto& t : kTypeNames) {
        if (equalsAsciiIgnoreCase(text, t.name)) {
            type = t.type;
            return true;
        }
    }
    uint64_t number = 0;
    if (!parseNumber(text, std::numeric_limits<uint32_t>::max(), number)) return false;
    type = uint32_t(number);
    return true;
}

std::u16string textOf(std::string_view bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t c = char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
        if (c == 0) break;
        text += c;
    }
    return text;
}

std::string displayData(uint32_t type, std::string_view bytes) {
    char number[24];
    switch (type) {
        case platform::kRegSz:
        case platform::kRegExpandSz:
            return platform::toUtf8(textOf(bytes));
        case platform::kRegMultiSz: {
            // The strings, joined with a visible \0 as reg shows them.
            std::u16string all;
            for (size_t i = 0; i + 1 < bytes.size(); i += 2)
                all += char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
            while (!all.empty() && all.back() == 0) all.pop_back();
            std::string out;
            size_t start = 0;
            while (start <= all.size()) {
                size_t end = all.find(u'\0', start);
                if (end == std::u16string::npos) end = all.size();
                if (start) out += "\\0";
                out += platform::toUtf8(std::u16string_view(all).substr(start, end - start));
                start = end + 1;
            }
            return out;
        }
        case platform::kRegDword:
            if (bytes.size() != 4) break;
            std::snprintf(number, sizeof number, "0x%llx",
                          static_cast<unsigned long long>(littleEndian(bytes)));
            return number;
        case platform::kRegQword:
            if (bytes.size() != 8) break;
            std::snprintf(number, sizeof number, "0x%llx",
                          static_cast<unsigned long long>(littleEndian(bytes)));
            return number;
        default:
            break;
    }
    return hexDigits(bytes);
}

bool encodeData(uint32_t type, std::string_view data, std::string_view separator,
                std::string& bytes, std::string& error) {
    bytes.clear();
    uint64_t number = 0;
    switch (type) {
        case platform::kRegSz:
        case platform::kRegExpandSz:
            appendUtf16(bytes, platform::toUtf16(data));
            return true;
        case platform::kRegMultiSz: {
            if (separator.empty()) separator = "\\0";
            size_t start = 0;
            while (!data.empty() && start <= data.size()) {
                size_t end = data.find(separator, start);
                if (end == std::string_view::npos) end = data.size();
                appendUtf16(bytes, platform::toUtf16(data.substr(start, end - start)));
                start = end + separator.size();
            }
            bytes.append(2, '\0');
            return true;
        }
        case platform::kRegDword:
        case platform::kRegQword: {
            bool wide = type == platform::kRegQword;
            uint64_t max =
                wide ? std::numeric_limits<uint64_t>::max() : std::numeric_limits<uint32_t>::max();
            if (!data.empty() && !parseNumber(data, max, number)) {
                error = "ERROR: " + typeName(type) +
                        " data must be a number, decimal or 0x hexadecimal, that fits in " +
                        (wide ? "64" : "32") + " bits.";
                return false;
            }
            appendLittleEndian(bytes, data.empty() ? 0 : number, wide ? 8 : 4);
            return true;
        }
        case platform::kRegBinary:
        case platform::kRegNone: {
            if (data.size() % 2) {
                error = "ERROR: Binary data must be an even number of hexadecimal digits.";
                return false;
            }
            for (size_t i = 0; i < data.size(); i += 2) {
                uint64_t byte = 0;
                if (!parseNumber(std::string("0x") + std::string(data.substr(i, 2)), 255, byte)) {
                    error = "ERROR: Binary data must be hexadecimal digits.";
                    return false;
                }
                bytes += char(byte);
            }
            return true;
        }
        default:
            if (!data.empty() && !parseNumber(data, std::numeric_limits<uint32_t>::max(), number)) {
                error = "ERROR: Data of type " + typeName(type) +
                        " must be a 32-bit number, decimal or 0x hexadecimal.";
                return false;
            }
            appendLittleEndian(bytes, data.empty() ? 0 : number, 4);
            return true;
    }
}

}  // namespace ovreg
