#include "engine/md5.h"

#include <openssl/evp.h>

struct Md5Hasher::Context {
    EVP_MD_CTX* ctx = nullptr;
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Md5Hasher::Md5Hasher() : m_context(std::make_unique<Context>()) {
    m_context->ctx = EVP_MD_CTX_new();
    m_ok = m_context->ctx && EVP_DigestInit_ex(m_context->ctx, EVP_md5(), nullptr) == 1;
}

Md5Hasher::~Md5Hasher() = default;

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
