// What the updater checks before a downloaded hash database may replace the
// one in use. Apart from the program so that tests and fuzz targets reach it.
#pragma once
#include <string>
#include <string_view>

// The digest of a checksum file as sha256sum writes it ("<64 hex digits>",
// optionally followed by blanks and a file name, one line). Upper or lower
// case; the result is lower case. False with a reason for anything else.
bool ParseSha256File(std::string_view text, std::string& digest, std::string& reason);

// SHA-256 of bytes as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

// Whether stored database bytes are a database the engine can read: no zero
// byte and no byte that unscrambles to zero (either would end the text
// early), and at least one hash of 32 upper-case hex digits in the text.
// The number of hash entries goes to *hashes. False with a reason.
bool CheckDatabaseBytes(std::string_view stored, size_t& hashes, std::string& reason);
