#include "tools/ovUpdate/update_checks.h"

#include <openssl/evp.h>

#include "common/hash_db_format.h"

namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool ParseSha256File(std::string_view text, std::string& digest, std::string& reason) {
    digest.clear();
    if (text.size() > 4096) {
        reason = "the checksum file is larger than 4096 bytes";
        return false;
    }
    if (text.size() < 64) {
        reason = "the checksum file does not start with 64 hexadecimal digits";
        return false;
    }
    for (size_t i = 0; i < 64; ++i) {
        if (!isHex(text[i])) {
            reason = "the checksum file does not start with 64 hexadecimal digits";
            return false;
        }
    }
    std::string_view rest = text.substr(64);
    if (!rest.empty() && rest.front() != ' ' && rest.front() != '\t' && rest.front() != '\n' &&
        rest.front() != '\r') {
        reason = "the checksum's digits run on past 64";
        return false;
    }
    // One line: what follows the first line break must be blank.
    const size_t lineEnd = rest.find('\n');
    if (lineEnd != std::string_view::npos) {
        for (char c : rest.substr(lineEnd + 1)) {
            if (c != '\n' && c != '\r' && c != ' ' && c != '\t') {
                reason = "the checksum file holds more than one line";
                return false;
            }
        }
    }
    for (char c : rest.substr(0, lineEnd)) {
        if (c == '\0') {
            reason = "the checksum file holds a zero byte";
            return false;
        }
    }
    digest.reserve(64);
    for (size_t i = 0; i < 64; ++i) {
        const char c = text[i];
        digest.push_back(c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return true;
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(kHex[digest[i] >> 4]);
        out.push_back(kHex[digest[i] & 15]);
    }
    return out;
}

bool CheckDatabaseBytes(std::string_view stored, size_t& hashes, std::string& reason) {
    hashes = 0;
    if (stored.empty()) {
        reason = "the database is empty";
        return false;
    }
    if (stored.find('\0') != std::string_view::npos) {
        reason = "the database holds a zero byte, which would end it early";
        return false;
    }
    const std::string plain = names::unscrambleDatabaseText(stored);
    if (plain.size() != stored.size() || plain.find('\0') != std::string::npos) {
        reason = "the database holds a byte that unscrambles to zero, which would end it early";
        return false;
    }
    size_t run = 0;
    for (size_t i = 0; i <= plain.size(); ++i) {
        if (i < plain.size() && isUpperHex(plain[i])) {
            ++run;
            continue;
        }
        hashes += run / 32;
        run = 0;
    }
    if (hashes == 0) {
        reason = "the database holds no hash of 32 upper-case hexadecimal digits";
        return false;
    }
    return true;
}
