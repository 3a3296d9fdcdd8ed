#include "tools/ovdb/database_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/digest_text.h"
#include "common/hash_db_format.h"
#include "engine/md5.h"
#include "platform/fs.h"

namespace {
bool IsFolder(const std::string& path, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) return false;
    error = path + ": is a folder";
    return true;
}
}  // namespace

bool ReadDatabase(const std::string& path, std::string& plain, size_t& storedSize, size_t& cutAt,
                  std::string& error) {
    if (IsFolder(path, error)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    storedSize = stored.size();
    plain = names::unscrambleDatabaseText(stored);
    size_t zero = plain.find('\0');
    if (zero != std::string::npos) plain.resize(zero);
    cutAt = plain.size() < stored.size() ? plain.size() : std::string::npos;
    return true;
}

bool WriteDatabase(const std::string& path, const std::string& plain, std::string& error) {
    std::string stored;
    std::string why;
    if (!names::scrambleDatabaseText(plain, stored, &why)) {
        error = "refusing to write " + path + ": " + why;
        return false;
    }
    // Written beside the database under a fresh name and renamed over it:
    // a reader sees the old database or the whole new one, and no link
    // planted at a guessable name is ever followed.
    if (const uint32_t rc = platform::replaceHostFile(path, stored); rc != 0) {
        error = path + ": cannot be written (error " + std::to_string(rc) + ")";
        return false;
    }
    return true;
}

bool HashFile(const std::string& path, std::string& hash, unsigned long long& size,
              std::string& error) {
    if (IsFolder(path, error)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    Md5Hasher hasher;
    char buffer[1 << 16];
    size = 0;
    while (in) {
        in.read(buffer, sizeof buffer);
        std::streamsize got = in.gcount();
        if (got > 0) {
            hasher.update(buffer, static_cast<size_t>(got));
            size += static_cast<unsigned long long>(got);
        }
    }
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    uint8_t digest[16];
    if (!hasher.finish(digest)) {
        error = "MD5 is not available";
        return false;
    }
    hash = names::digestTextUpperAscii(digest);
    return true;
}
