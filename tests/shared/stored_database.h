// The hash database file as an installation stores it, written by tests:
// the hash texts one a line behind a line of zeros (so that the text is
// never empty), scrambled.
#pragma once
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/hash_db_format.h"

namespace ovtest {

inline constexpr char kFirstDatabaseLine[] = "00000000000000000000000000000000\r\n";

// The plain text of a database listing these hash texts.
inline std::string databaseText(const std::vector<std::string>& hashes) {
    std::string plain = kFirstDatabaseLine;
    for (const std::string& hash : hashes) plain += hash + "\r\n";
    return plain;
}

// Writes the plain text, scrambled, to file (made or replaced); false and
// why when the text cannot be stored or the file cannot be written.
[[nodiscard]] inline bool writeDatabaseFile(const std::filesystem::path& file,
                                            const std::string& plain, std::string& error) {
    std::string stored;
    if (!names::scrambleDatabaseText(plain, stored, &error)) return false;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(stored.data(), static_cast<std::streamsize>(stored.size()));
    out.close();
    if (!out) error = "cannot write " + file.string();
    return static_cast<bool>(out);
}

}  // namespace ovtest
