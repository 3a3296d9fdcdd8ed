// How the walker names the files it hands on (folder_walker.cpp).
#pragma once
#include <string>

// The path handed on for a file: the lower-cased text the extension checks
// left, as messages and report lines show paths, unless on this case-
// sensitive file system the lower-cased text names another file (two names
// that differ only in case); then the file keeps its own spelling, so that
// every file is scanned, and scanned once.
std::u16string PathToHandOn(const std::u16string& original, const char16_t* lowered);
// The same, taking the lower-cased text as a string of its own.
std::u16string PathToHandOn(const std::u16string& original, std::u16string lowered);
