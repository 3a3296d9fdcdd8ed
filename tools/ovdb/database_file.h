// Reading and writing the stored (scrambled) hash database file.
#pragma once
#include <string>

// Reads a stored database and unscrambles it. Returns false with a reason
// when the file cannot be read. cutAt is set to the offset where a zero byte
// (stored, or a key byte that unscrambles to zero) ends the text early, or
// std::string::npos when the whole file is text.
bool ReadDatabase(const std::string& path, std::string& plain, size_t& storedSize, size_t& cutAt,
                  std::string& error);

// Scrambles plain and replaces the file at path (through a temporary file
// beside it, renamed over it). Refuses a text whose stored form would hold a
// zero byte.
bool WriteDatabase(const std::string& path, const std::string& plain, std::string& error);

// MD5 of a whole file as 32 uppercase hex digits; false with a reason.
bool HashFile(const std::string& path, std::string& hash, unsigned long long& size,
              std::string& error);
