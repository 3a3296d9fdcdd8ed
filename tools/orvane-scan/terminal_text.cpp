#include "tools/orvane-scan/terminal_text.h"

#include <cstdio>

#include "platform/path.h"
#include "platform/text.h"

namespace {

bool isControl(char16_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F;
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string TerminalText(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    char buffer[16];
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            out += platform::toUtf8(text.substr(i, 2));
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            std::snprintf(buffer, sizeof buffer, "<x%02X>", static_cast<unsigned>(c - 0xDC00));
            out += buffer;
        } else if (isControl(c) || isHighSurrogate(c) || isLowSurrogate(c)) {
            std::snprintf(buffer, sizeof buffer, "<U+%04X>", static_cast<unsigned>(c));
            out += buffer;
        } else {
            out += platform::toUtf8(text.substr(i, 1));
        }
    }
    return out;
}

std::string TerminalPath(std::u16string_view windowsPath) {
    bool hostOnly = false;
    for (size_t i = 0; i < windowsPath.size(); ++i) {
        const char16_t c = windowsPath[i];
        if (isHighSurrogate(c) && i + 1 < windowsPath.size() &&
            isLowSurrogate(windowsPath[i + 1])) {
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            hostOnly = true;
        }
    }
    if (hostOnly) {
        const std::string host = platform::toHostPath(windowsPath);
        if (!host.empty()) return TerminalText(platform::toUtf16(host));
    }
    return TerminalText(windowsPath);
}
