// The news reply's text. Apart from the news thread so that the fuzz
// targets reach it without the application.
#pragma once
#include <optional>
#include <string>
#include <string_view>

// The text a news reply draws: the reply up to its first zero byte, when
// that is 1 to 511 bytes, taken as ANSI (UTF-8 here), at most 512
// characters, without its last 5 characters. Nothing (nullopt) for an empty
// reply, one of 512 bytes or more, or one of fewer than 5 characters.
std::optional<std::u16string> NewsTextFromReply(std::string_view reply);
