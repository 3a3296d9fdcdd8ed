// Bounds-checked reads from a block of untrusted bytes (a file's content):
// every read names its offset and size and fails instead of reading past the
// end, whatever the offsets in the data claim.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t size() const { return m_size; }

    // True when [offset, offset + length) lies inside the block.
    bool contains(uint64_t offset, uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }

    // The bytes at offset, or null when they do not all lie inside.
    const uint8_t* bytes(uint64_t offset, uint64_t length) const {
        return contains(offset, length) ? m_data + offset : nullptr;
    }

    bool u16(uint64_t offset, uint16_t& out) const { return little(offset, 2, out); }
    bool u32(uint64_t offset, uint32_t& out) const { return little(offset, 4, out); }

private:
    template <class T>
    bool little(uint64_t offset, size_t length, T& out) const {
        const uint8_t* p = bytes(offset, length);
        if (!p) return false;
        T value = 0;
        for (size_t i = 0; i < length; ++i) value |= static_cast<T>(p[i]) << (8 * i);
        out = value;
        return true;
    }

    const uint8_t* m_data;
    size_t m_size;
};
