#include "app/settings/online_encoding.h"

namespace {
constexpr char kHex[] = "0123456789ABCDEF";
}

std::string PercentEncode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string ScrambleEmailPayload(std::u16string_view payload) {
    std::string out;
    out.reserve(payload.size() * 4);
    for (char16_t unit : payload) {
        const auto scrambled = static_cast<uint16_t>(unit ^ kEmailScramble);
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(scrambled >> shift) & 15]);
    }
    return out;
}
