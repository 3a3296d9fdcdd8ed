#include "common/hash_db_format.h"

#include <cstring>

namespace names {

uint8_t databaseKeyByte() {
    uint32_t acc = 0;
    for (const char* p = kDatabaseKeyString; *p; ++p)
        acc = acc * 65599u + static_cast<unsigned char>(*p);
    return static_cast<uint8_t>(acc & 0xFF);
}

std::string unscrambleDatabaseText(std::string_view stored) {
    const uint8_t key = databaseKeyByte();
    std::string plain;
    plain.reserve(stored.size());
    for (char c : stored) {
        if (c == 0) break;
        plain.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ key));
    }
    return plain;
}

bool scrambleDatabaseText(std::string_view plain, std::string& stored, std::string* error) {
    const uint8_t key = databaseKeyByte();
    stored.clear();
    stored.reserve(plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        auto b = static_cast<uint8_t>(plain[i]);
        if (b == key || b == 0) {
            if (error) {
                *error = "byte " + std::to_string(i) + " of the plain text is " +
                         (b == 0 ? std::string("a zero byte") : std::string("the key byte")) +
                         "; the stored database would end there";
            }
            stored.clear();
            return false;
        }
        stored.push_back(static_cast<char>(b ^ key));
    }
    return true;
}

size_t storedTextLength(const char* stored, size_t size, uint8_t key) {
    size_t length = size;
    if (const void* zero = std::memchr(stored, 0, length))
        length = static_cast<size_t>(static_cast<const char*>(zero) - stored);
    if (key != 0) {
        if (const void* keyByte = std::memchr(stored, key, length))
            length = static_cast<size_t>(static_cast<const char*>(keyByte) - stored);
    }
    return length;
}

}  // namespace names
