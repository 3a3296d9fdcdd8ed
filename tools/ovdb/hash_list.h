// Lists of MD5 hashes as people keep them: md5sum output ("hash  name",
// "hash *name", "\hash  name"), BSD-style "MD5 (name) = hash", ClamAV .hdb
// lines "hash:size:name", or one hash per line. Empty lines and lines
// starting with '#' are skipped.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct BadListLine {
    size_t number = 0;  // 1-based
    std::string text;
};

// Appends each line's hash, in upper case, to hashes; a line that holds no
// MD5 hash goes to bad with its number.
void ParseHashList(std::string_view text, std::vector<std::string>& hashes,
                   std::vector<BadListLine>& bad);

// The hash of one line, upper case; empty when the line holds none.
std::string HashOfListLine(std::string_view line);

// Upper case of a 32-digit hex text; empty when it is not one.
std::string NormalisedHash(std::string_view text);
