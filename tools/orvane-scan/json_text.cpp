#include "tools/orvane-scan/json_text.h"

#include <cstdio>

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendEscape(std::string& out, char16_t unit) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit));
    out += buf;
}

}  // namespace

std::string JsonString(std::u16string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        switch (c) {
            case u'"':
                out += "\\\"";
                continue;
            case u'\\':
                out += "\\\\";
                continue;
            case u'\n':
                out += "\\n";
                continue;
            case u'\r':
                out += "\\r";
                continue;
            case u'\t':
                out += "\\t";
                continue;
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) {
            AppendEscape(out, c);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            AppendUtf8(out, cp);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendEscape(out, c);
        } else {
            AppendUtf8(out, c);
        }
    }
    out += "\"";
    return out;
}
