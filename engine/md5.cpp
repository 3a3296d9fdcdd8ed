#include "engine/md5.h"

#include <openssl/evp.h>

#include <memory>

namespace {

// Fetched once: an implicit fetch by name at every initialisation costs
// more than hashing a small file.
// Released at exit, before the crypto library's own clean-up (which was
// registered earlier, when the fetch initialised the library).
const EVP_MD* Md5Method() {
    struct Free {
        void operator()(EVP_MD* method) const { EVP_MD_free(method); }
    };
    static const std::unique_ptr<EVP_MD, Free> method(EVP_MD_fetch(nullptr, "MD5", nullptr));
    return method.get();
}

}  // namespace

struct Md5Hasher::Context {
    EVP_MD_CTX* ctx = nullptr;
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Md5Hasher::Md5Hasher() : m_context(std::make_unique<Context>()) {
    m_context->ctx = EVP_MD_CTX_new();
    reset();
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::reset() {
    m_ok = m_context->ctx && Md5Method() &&
           EVP_DigestInit_ex2(m_context->ctx, Md5Method(), nullptr) == 1;
    return m_ok;
}

bool Md5Hasher::update(const void* data, size_t size) {
    if (!m_ok) return false;
    if (size == 0) return true;
    m_ok = EVP_DigestUpdate(m_context->ctx, data, size) == 1;
    return m_ok;
}

bool Md5Hasher::finish(uint8_t digest[16]) {
    if (!m_ok) return false;
    unsigned int length = 0;
    m_ok = EVP_DigestFinal_ex(m_context->ctx, digest, &length) == 1 && length == 16;
    return m_ok;
}
