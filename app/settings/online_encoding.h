// How the payloads of the online requests are written into their URL.
//
// The "data" value of every request is percent-encoded (RFC 3986: letters,
// digits and "-._~" stay, every other byte becomes %XX), so that "&", "#",
// "%", blanks or line breaks in a payload cannot cut or change the request.
//
// The feedback payload is UTF-8 before it is percent-encoded.
//
// The e-mail notice payload is scrambled: every UTF-16 code unit is XORed
// with 0x2e94, and each scrambled unit is written as four upper-case
// hexadecimal digits, most significant first ("a" is 0x0061, scrambled
// 0x2EF5, written "2EF5"). A server gets the text back by reading the value
// four digits at a time, XORing each unit with 0x2e94 and taking the units
// as UTF-16. Every unit is kept, so a unit that scrambles to zero is written
// "0000" and nothing after it is lost.
#pragma once
#include <string>
#include <string_view>

inline constexpr char16_t kEmailScramble = 0x2e94;

std::string PercentEncode(std::string_view bytes);

// The scrambled e-mail payload as it goes into the URL (before percent-
// encoding, which leaves it as it is).
std::string ScrambleEmailPayload(std::u16string_view payload);
