// ovdb: the hash database tool.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/hash_db_format.h"
#include "tools/ovdb/database_file.h"
#include "tools/ovdb/hash_list.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotListed = 1;
constexpr int kExitError = 2;
// The scanner reads and hashes only files smaller than this.
constexpr unsigned long long kScannerFileLimit = 5ull * 1024 * 1024;

const char kUsage[] =
    "Usage:\n"
    "  ovdb build OUT [LIST...]   write a new database OUT from hash lists (standard\n"
    "                             input when no LIST is given, or for LIST \"-\")\n"
    "  ovdb add DB FILE...        hash each FILE and add the hashes to DB (created\n"
    "                             when missing)\n"
    "  ovdb dump DB               print the plain text of DB\n"
    "  ovdb check DB HASH|FILE    exit 0 when the hash (or the FILE's MD5) is listed,\n"
    "                             1 when it is not\n"
    "  ovdb stats DB              entries, duplicates and problems of DB\n"
    "\n"
    "Lists may hold md5sum output (\"hash  name\"), BSD-style lines\n"
    "(\"MD5 (name) = hash\"), ClamAV .hdb lines (\"hash:size:name\") or one hash per\n"
    "line; empty lines and lines starting with # are skipped. A line holding no MD5\n"
    "hash is reported on standard error with its list and line number and skipped;\n"
    "the database is still written. Hashes are written in upper case (the scanner\n"
    "matches upper case only), each once, one per line ending in CR LF.\n"
    "\n"
    "A database is a text scrambled with one key byte; ovdb refuses to write one\n"
    "whose stored form would hold a zero byte, since the scanner stops reading at\n"
    "the first zero byte.\n"
    "\n"
    "Exit status: 0 success (check: listed), 1 check: not listed, 2 error.\n";

int Fail(const std::string& text) {
    std::fprintf(stderr, "ovdb: %s\n", text.c_str());
    return kExitError;
}

bool ReadList(const std::string& name, std::string& text, std::string& error) {
    if (name == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(name, ec)) {
        error = name + ": is a folder";
        return false;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        error = name + ": cannot be opened";
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string JoinEntries(const std::vector<std::string>& hashes) {
    std::string plain;
    plain.reserve(hashes.size() * 34);
    for (const std::string& h : hashes) plain += h + "\r\n";
    return plain;
}

int Build(const std::vector<std::string>& args) {
    if (args.empty()) return Fail("build needs OUT");
    const std::string out = args[0];
    std::vector<std::string> lists(args.begin() + 1, args.end());
    if (lists.empty()) lists.push_back("-");

    std::vector<std::string> hashes;
    std::unordered_set<std::string> seen;
    size_t badLines = 0, duplicates = 0;
    for (const std::string& list : lists) {
        std::string text, error;
        if (!ReadList(list, text, error)) return Fail(error);
        std::vector<std::string> found;
        std::vector<BadListLine> bad;
        ParseHashList(text, found, bad);
        for (const BadListLine& line : bad) {
            std::fprintf(stderr, "ovdb: %s:%zu: no MD5 hash on this line, skipped: %s\n",
                         list == "-" ? "(stdin)" : list.c_str(), line.number, line.text.c_str());
        }
        badLines += bad.size();
        for (std::string& h : found) {
            if (seen.insert(h).second)
                hashes.push_back(std::move(h));
            else
                ++duplicates;
        }
    }
    std::string error;
    if (!WriteDatabase(out, JoinEntries(hashes), error)) return Fail(error);
    std::printf("%s: %zu hashes written (%zu duplicates dropped, %zu bad lines skipped)\n",
                out.c_str(), hashes.size(), duplicates, badLines);
    return kExitOk;
}

// Loads a database that may be changed: a text cut short by a zero byte
// would lose everything behind it, so such a file is refused.
bool LoadForChange(const std::string& path, std::string& plain, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        plain.clear();
        return true;
    }
    size_t storedSize = 0, cutAt = 0;
    if (!ReadDatabase(path, plain, storedSize, cutAt, error)) return false;
    if (cutAt != std::string::npos) {
        error = path + ": a zero byte at offset " + std::to_string(cutAt) +
                " ends the text early; what stands behind it would be lost (rebuild the "
                "database from its lists)";
        return false;
    }
    return true;
}

int Add(const std::vector<std::string>& args) {
    if (args.size() < 2) return Fail("add needs DB and at least one FILE");
    const std::string db = args[0];
    std::string plain, error;
    if (!LoadForChange(db, plain, error)) return Fail(error);
    size_t added = 0;
    bool failed = false;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string hash;
        unsigned long long size = 0;
        if (!HashFile(args[i], hash, size, error)) {
            std::fprintf(stderr, "ovdb: %s\n", error.c_str());
            failed = true;
            continue;
        }
        if (size >= kScannerFileLimit) {
            std::fprintf(stderr,
                         "ovdb: warning: %s has %llu bytes; the scanner does not hash files of "
                         "5 MiB or more, so it will not find this file by its content\n",
                         args[i].c_str(), size);
        }
        if (plain.find(hash) != std::string::npos) {
            std::printf("%s  %s (already listed)\n", hash.c_str(), args[i].c_str());
            continue;
        }
        if (!plain.empty() && plain.back() != '\n') plain += "\r\n";
        plain += hash + "\r\n";
        ++added;
        std::printf("%s  %s\n", hash.c_str(), args[i].c_str());
    }
    if (added && !WriteDatabase(db, plain, error)) return Fail(error);
    return failed ? kExitError : kExitOk;
}

int Dump(const std::vector<std::string>& args) {
    if (args.size() != 1) return Fail("dump needs DB");
    std::string plain, error;
    size_t storedSize = 0, cutAt = 0;
    if (!ReadDatabase(args[0], plain, storedSize, cutAt, error)) return Fail(error);
    std::fwrite(plain.data(), 1, plain.size(), stdout);
    if (cutAt != std::string::npos)
        std::fprintf(stderr, "ovdb: warning: the text ends at offset %zu of %zu (a zero byte)\n",
                     cutAt, storedSize);
    return kExitOk;
}

int Check(const std::vector<std::string>& args) {
    if (args.size() != 2) return Fail("check needs DB and HASH or FILE");
    std::string plain, error;
    size_t storedSize = 0, cutAt = 0;
    if (!ReadDatabase(args[0], plain, storedSize, cutAt, error)) return Fail(error);
    std::string hash;
    std::error_code ec;
    if (std::filesystem::is_regular_file(args[1], ec)) {
        unsigned long long size = 0;
        if (!HashFile(args[1], hash, size, error)) return Fail(error);
    } else {
        hash = NormalisedHash(args[1]);
        if (hash.empty()) return Fail(args[1] + ": neither a file nor an MD5 hash");
    }
    // The scanner's own meaning: listed when the text holds the hash anywhere.
    const bool listed = plain.find(hash) != std::string::npos;
    std::printf("%s %s\n", hash.c_str(), listed ? "listed" : "not listed");
    return listed ? kExitOk : kExitNotListed;
}

int Stats(const std::vector<std::string>& args) {
    if (args.size() != 1) return Fail("stats needs DB");
    std::string plain, error;
    size_t storedSize = 0, cutAt = 0;
    if (!ReadDatabase(args[0], plain, storedSize, cutAt, error)) return Fail(error);
    std::vector<std::string> hashes;
    std::vector<BadListLine> bad;
    ParseHashList(plain, hashes, bad);
    std::unordered_set<std::string> distinct(hashes.begin(), hashes.end());
    // A hash written in lower case is never matched by the scanner.
    size_t lowerCase = 0;
    size_t number = 0;
    std::string_view text = plain;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        std::string hash = HashOfListLine(line);
        if (!hash.empty() && line.find(hash) == std::string_view::npos) ++lowerCase;
    }
    std::printf("stored bytes: %zu\n", storedSize);
    std::printf("text bytes: %zu\n", plain.size());
    std::printf("entries: %zu\n", hashes.size());
    std::printf("distinct hashes: %zu\n", distinct.size());
    std::printf("duplicates: %zu\n", hashes.size() - distinct.size());
    std::printf("lower-case entries (never matched): %zu\n", lowerCase);
    std::printf("other lines: %zu\n", bad.size());
    std::printf("key byte: 0x%02X\n", names::databaseKeyByte());
    if (cutAt != std::string::npos)
        std::printf(
            "warning: a zero byte at offset %zu ends the text; %zu stored bytes are never "
            "seen\n",
            cutAt, storedSize - cutAt);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitError;
    }
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "build") return Build(args);
    if (command == "add") return Add(args);
    if (command == "dump") return Dump(args);
    if (command == "check") return Check(args);
    if (command == "stats") return Stats(args);
    std::fprintf(stderr, "ovdb: unknown command %s\n\n%s", command.c_str(), kUsage);
    return kExitError;
}
