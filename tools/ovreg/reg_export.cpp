#include "tools/ovreg/reg_export.h"

#include <cstdio>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"
#include "tools/ovreg/value_text.h"

namespace ovreg {

namespace {

constexpr char16_t kEol[] = u"\r\n";
// Hex lists wrap before this column, continuing with "\" and two blanks.
constexpr size_t kWrapColumn = 76;

std::u16string quoted(std::u16string_view text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

// A REG_SZ that round-trips as "text": even length, one terminator at the
// end, none before it.
bool isPlainString(const std::string& bytes) {
    if (bytes.size() < 2 || bytes.size() % 2) return false;
    size_t units = bytes.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        bool zero = bytes[2 * i] == 0 && bytes[2 * i + 1] == 0;
        if (zero != (i + 1 == units)) return false;
    }
    return true;
}

std::u16string hexList(std::u16string line, const std::string& bytes) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    std::u16string out;
    size_t column = line.size();
    out = std::move(line);
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = uint8_t(bytes[i]);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
        column += 2;
        if (i + 1 < bytes.size()) {
            out += u',';
            column += 1;
            if (column >= kWrapColumn) {
                out += u"\\";
                out += kEol;
                out += u"  ";
                column = 2;
            }
        }
    }
    return out;
}

std::u16string valueLine(const std::u16string& name, uint32_t type, const std::string& bytes) {
    std::u16string line = name.empty() ? std::u16string(u"@") : quoted(name);
    line += u'=';
    if (type == platform::kRegSz && isPlainString(bytes)) return line + quoted(textOf(bytes));
    if (type == platform::kRegDword && bytes.size() == 4) {
        uint32_t v = uint32_t(uint8_t(bytes[0])) | uint32_t(uint8_t(bytes[1])) << 8 |
                     uint32_t(uint8_t(bytes[2])) << 16 | uint32_t(uint8_t(bytes[3])) << 24;
        char text[16];
        std::snprintf(text, sizeof text, "%08x", unsigned(v));
        return line + u"dword:" + platform::ascii16(text);
    }
    if (type == platform::kRegBinary) return hexList(line + u"hex:", bytes);
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(type));
    return hexList(line + platform::ascii16(prefix), bytes);
}

}  // namespace

uint32_t exportKey(platform::RegRoot root, const std::u16string& subKey,
                   const std::u16string& displayPath, std::u16string& text) {
    platform::RegKey key;
    uint32_t rc = platform::RegKey::open(root, subKey, key);
    if (rc != 0) return rc;
    text += u"[" + displayPath + u"]" + kEol;
    std::vector<char16_t> name(16384);
    std::string data;
    for (uint32_t index = 0;; ++index) {
        uint32_t nameLength = uint32_t(name.size()), type = 0, size = 0;
        rc = key.enumValue(index, name.data(), &nameLength, &type, nullptr, &size);
        if (rc == platform::kErrorNoMoreItems) break;
        if (rc != 0) return rc;
        data.assign(size, '\0');
        uint32_t nameAgain = uint32_t(name.size());
        rc = key.enumValue(index, name.data(), &nameAgain, &type, data.data(), &size);
        if (rc != 0) return rc;
        data.resize(size);
        text += valueLine(std::u16string(name.data(), nameLength), type, data) + kEol;
    }
    text += kEol;
    std::u16string child;
    for (uint32_t index = 0; key.enumKey(index, child) == 0; ++index) {
        std::u16string childKey = subKey.empty() ? child : subKey + u"\\" + child;
        rc = exportKey(root, childKey, displayPath + u"\\" + child, text);
        if (rc != 0 && rc != platform::kErrorFileNotFound) return rc;
    }
    return 0;
}

std::string regFileBytes(const std::u16string& body) {
    std::u16string all = u"\xFEFF";
    all += u"Windows Registry Editor Version 5.00";
    all += kEol;
    all += kEol;
    all += body;
    std::string bytes;
    bytes.reserve(all.size() * 2);
    for (char16_t c : all) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return bytes;
}

}  // namespace ovreg
