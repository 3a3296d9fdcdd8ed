#include "common/digest_text.h"
#include "common/scan_codes.h"

namespace names {

namespace {
template <class Char>
void digestDigits(const uint8_t digest[16], const char* digits, Char out[33]) {
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = static_cast<Char>(digits[digest[i] >> 4]);
        out[2 * i + 1] = static_cast<Char>(digits[digest[i] & 0x0F]);
    }
    out[32] = 0;
}

template <class Str>
Str digestText(const uint8_t digest[16], const char* digits) {
    typename Str::value_type text[33];
    digestDigits(digest, digits, text);
    return Str(text, 32);
}
}  // namespace

void digestDigitsUpper(const uint8_t digest[16], char16_t out[33]) {
    digestDigits(digest, "0123456789ABCDEF", out);
}

void digestDigitsUpperAscii(const uint8_t digest[16], char out[33]) {
    digestDigits(digest, "0123456789ABCDEF", out);
}

std::u16string digestTextUpper(const uint8_t digest[16]) {
    return digestText<std::u16string>(digest, "0123456789ABCDEF");
}

std::string digestTextUpperAscii(const uint8_t digest[16]) {
    return digestText<std::string>(digest, "0123456789ABCDEF");
}

std::u16string digestTextLower(const uint8_t digest[16]) {
    return digestText<std::u16string>(digest, "0123456789abcdef");
}

bool isDigestText(std::string_view text) {
    if (text.size() != 32) return false;
    for (char c : text) {
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return false;
    }
    return true;
}

const char16_t* jobStatusText(int32_t status) {
    switch (status) {
        case kJobActive: return u"Active";
        case kJobNotActive: return u"Not Active";
        case kJobRunning: return u"Running";
        case kJobFinishOk: return u"Finish OK";
        case kJobFinishWithError: return u"Finish With Error";
        case kJobDone: return u"Done!";
        case kJobError: return u"Error";
        default: return nullptr;
    }
}

}  // namespace names
