// JSON string literals from UTF-16 text.
#pragma once
#include <string>
#include <string_view>

// A quoted JSON string. Characters are written as UTF-8; quotation marks,
// backslashes and control characters are escaped, and a lone surrogate (the
// form a file name's invalid UTF-8 byte takes in memory) becomes a \uXXXX
// escape, so the output is always valid UTF-8.
std::string JsonString(std::u16string_view text);
