#include "tools/orvane-scan/json_text.h"

#include <cstdio>

#include "platform/text.h"

namespace {

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
            out += platform::toUtf8(text.substr(i, 2));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendEscape(out, c);
        } else {
            out += platform::toUtf8(text.substr(i, 1));
        }
    }
    out += "\"";
    return out;
}
