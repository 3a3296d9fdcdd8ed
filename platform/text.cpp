#include "platform/text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

void appendUtf8(std::string& out, char32_t cp) {
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

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not valid
// (overlong forms, surrogates and values past U+10FFFF are invalid).
size_t validSequence(std::string_view s, size_t i, char32_t& cp) {
    auto b0 = static_cast<unsigned char>(s[i]);
    size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp;
        size_t len = validSequence(utf8, i, cp);
        if (len == 0) {
            out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(utf8[i])));
            ++i;
        } else {
            appendUtf16(out, cp);
            i += len;
        }
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16) {
    // Most texts are ASCII from end to end: a run of ASCII is copied
    // without a look at each unit's encoding.
    size_t ascii = 0;
    while (ascii < utf16.size() && utf16[ascii] < 0x80) ++ascii;
    std::string out(ascii, '\0');
    for (size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(utf16[i]);
    if (ascii == utf16.size()) return out;
    out.reserve(utf16.size() + utf16.size() / 2);
    for (size_t i = ascii; i < utf16.size(); ++i) {
        char16_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
            appendUtf8(out, cp);
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(static_cast<char>(u - 0xDC00));  // an escaped raw byte
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

std::string toUtf16LeBytes(std::u16string_view utf16) {
    std::string bytes;
    bytes.reserve(utf16.size() * 2);
    for (char16_t unit : utf16) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

size_t length16(const char16_t* text) {
    if (!text) return 0;
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

size_t copy16(char16_t* dest, size_t capacity, std::u16string_view src) {
    if (!dest || capacity == 0) return 0;
    size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
    if (n) std::memmove(dest, src.data(), n * sizeof(char16_t));
    dest[n] = 0;
    return n;
}

namespace {

// Called for every unit of every path a walk checks: inlined here rather
// than called through the library's exported toLower16.
inline char16_t lowerUnit(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

}  // namespace

char16_t toLower16(char16_t c) { return lowerUnit(c); }

char16_t toUpper16(char16_t c) {
    if (c >= u'a' && c <= u'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    return c;
}

void lowerInPlace(char16_t* text, size_t maxUnits) {
    if (!text) return;
    for (size_t i = 0; i < maxUnits && text[i]; ++i) text[i] = lowerUnit(text[i]);
}

std::u16string toLower(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) c = lowerUnit(c);
    return out;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerUnit(a[i]) != lowerUnit(b[i])) return false;
    return true;
}

std::u16string ascii16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

namespace {

enum class Length { None, Short, Long, LongLong, Size };

void appendPadded(std::u16string& out, std::u16string_view body, bool leftAlign, int width,
                  char16_t pad = u' ') {
    int fill = width > static_cast<int>(body.size()) ? width - static_cast<int>(body.size()) : 0;
    if (!leftAlign) out.append(static_cast<size_t>(fill), pad);
    out.append(body);
    if (leftAlign) out.append(static_cast<size_t>(fill), u' ');
}

}  // namespace

std::u16string vformat16(const char16_t* format, va_list args) {
    std::u16string out;
    if (!format) return out;
    const std::u16string_view text(format);
    if (text.find(u'%') == std::u16string_view::npos) {
        out.assign(text);
        return out;
    }
    // Room for the usual message (a path or two) at once, rather than
    // growing unit by unit through several allocations.
    out.reserve(text.size() + 128);
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            // The text up to the next placeholder, at once.
            const std::u16string_view rest = text.substr(static_cast<size_t>(p - format));
            const size_t run = std::min(rest.find(u'%'), rest.size());
            out.append(rest.substr(0, run));
            p += run - 1;
            continue;
        }
        const char16_t* start = p;
        ++p;
        if (*p == u'%') {
            out.push_back(u'%');
            continue;
        }
        // Flags.
        std::string flags;
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
            flags.push_back(static_cast<char>(*p));
            ++p;
        }
        int width = -1;
        if (*p == u'*') {
            width = va_arg(args, int);
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') {
                width = (width < 0 ? 0 : width) * 10 + (*p - u'0');
                if (width > 100000) width = 100000;
                ++p;
            }
        }
        int precision = -1;
        if (*p == u'.') {
            ++p;
            precision = 0;
            if (*p == u'*') {
                precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9') {
                    precision = precision * 10 + (*p - u'0');
                    if (precision > 100000) precision = 100000;
                    ++p;
                }
            }
        }
        Length length = Length::None;
        bool narrowString = false;
        if (*p == u'h') {
            ++p;
            if (*p == u'h') ++p;
            length = Length::Short;
            narrowString = true;
        } else if (*p == u'l') {
            ++p;
            length = Length::Long;
            if (*p == u'l') {
                length = Length::LongLong;
                ++p;
            }
        } else if (*p == u'z' || *p == u'I') {
            ++p;
            length = Length::Size;
            if (p[-1] == u'I' && p[0] == u'6' && p[1] == u'4') {
                length = Length::LongLong;
                p += 2;
            }
        }
        bool leftAlign = flags.find('-') != std::string::npos;
        char16_t conv = *p;
        switch (conv) {
            case u's':
            case u'S': {
                std::u16string_view body;
                std::u16string converted;
                bool narrow = conv == u'S' || (narrowString && conv == u's');
                if (narrow) {
                    const char* s = va_arg(args, const char*);
                    converted = s ? toUtf16(s) : u"(null)";
                    body = converted;
                } else {
                    const char16_t* s = va_arg(args, const char16_t*);
                    body = s ? std::u16string_view(s) : std::u16string_view(u"(null)");
                }
                if (precision >= 0 && body.size() > static_cast<size_t>(precision))
                    body = body.substr(0, static_cast<size_t>(precision));
                appendPadded(out, body, leftAlign, width);
                break;
            }
            case u'c':
            case u'C': {
                char16_t c = static_cast<char16_t>(va_arg(args, int));
                appendPadded(out, std::u16string_view(&c, 1), leftAlign, width);
                break;
            }
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
            case u'o':
            case u'p': {
                // Build a narrow printf spec and let snprintf do the digits.
                std::string spec = "%" + flags;
                if (width >= 0) spec += std::to_string(width);
                if (precision >= 0) spec += "." + std::to_string(precision);
                char buf[256];
                bool isSigned = conv == u'd' || conv == u'i';
                if (conv == u'p') {
                    void* v = va_arg(args, void*);
                    std::snprintf(buf, sizeof buf, "%p", v);
                } else if (length == Length::LongLong) {
                    spec += std::string("ll") + static_cast<char>(conv);
                    if (isSigned)
                        std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, long long));
                    else
                        std::snprintf(buf, sizeof buf, spec.c_str(),
                                      va_arg(args, unsigned long long));
                } else if (length == Length::Size) {
                    spec += std::string("z") + static_cast<char>(conv);
                    if (isSigned)
                        std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, ptrdiff_t));
                    else
                        std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, size_t));
                } else if (length == Length::Long) {
                    spec += std::string("l") + static_cast<char>(conv);
                    if (isSigned)
                        std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, long));
                    else
                        std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, unsigned long));
                } else {
                    spec += static_cast<char>(conv);
                    if (isSigned) {
                        int v = va_arg(args, int);
                        if (length == Length::Short) v = static_cast<short>(v);
                        std::snprintf(buf, sizeof buf, spec.c_str(), v);
                    } else {
                        unsigned v = va_arg(args, unsigned);
                        if (length == Length::Short) v = static_cast<unsigned short>(v);
                        std::snprintf(buf, sizeof buf, spec.c_str(), v);
                    }
                }
                out += ascii16(buf);
                break;
            }
            case u'f':
            case u'g':
            case u'e': {
                std::string spec = "%" + flags;
                if (width >= 0) spec += std::to_string(width);
                if (precision >= 0) spec += "." + std::to_string(precision);
                spec += static_cast<char>(conv);
                char buf[512];
                std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, double));
                out += ascii16(buf);
                break;
            }
            case 0:
                // A lone % at the end: print what was there.
                out.append(start, p);
                return out;
            default:
                out.append(start, p + 1);
                break;
        }
    }
    return out;
}

std::u16string format16(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string out = vformat16(format, args);
    va_end(args);
    return out;
}

}  // namespace platform
