// MD5 of a byte stream through OpenSSL's EVP interface.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

// One digest computation. Every call returns false when the crypto library
// fails (no context, no MD5 method); the object is then unusable.
class Md5Hasher {
public:
    Md5Hasher();
    ~Md5Hasher();
    Md5Hasher(const Md5Hasher&) = delete;
    Md5Hasher& operator=(const Md5Hasher&) = delete;

    bool ok() const { return m_ok; }
    // Starts a new digest with the same context; false when that fails.
    bool reset();
    bool update(const void* data, size_t size);
    bool finish(uint8_t digest[16]);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
    bool m_ok = false;
};
