// An index over a hash database text that answers "does this 32-digit hash
// text occur anywhere in the text?" without searching the text.
//
// A hash text is 32 uppercase hex digits, so it can only occur inside a run of
// uppercase hex digits. Every 32-digit window of every run is indexed (one
// window per ordinary entry), which keeps exactly the meaning of a substring
// search. Runs much longer than an entry (hashes written without separators)
// would multiply the windows, so those runs are kept as text and searched
// instead; ordinary databases never have them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/large_memory.h"

namespace names {

class HashIndex {
public:
    // Replaces the index with one over plainText.
    void build(std::string_view plainText);

    // How a stored text is read a piece at a time: up to `bytes` bytes at
    // `offset` into `into`, setting `got` (it may give fewer than asked, and
    // none only at the text's end); false when they cannot be read. Called
    // from two threads at once for a large text.
    using PieceReader = std::function<bool(uint64_t offset, char* into, size_t bytes, size_t& got)>;

    // How a stored text is read: in pieces of this many bytes, and in two
    // halves at once from this size on (tests and fuzzing make both small).
    struct Pieces {
        size_t pieceBytes = 256 << 10;
        uint64_t twoHalvesFrom = 1 << 20;
    };

    // Replaces the index with one over a stored text of at most `size` bytes
    // read through `read`, each byte XORed with scrambleKey, that ends at its
    // first byte stored as zero or reading as zero; the text is never held
    // whole in memory. Every byte up to `size` is read, so that a read
    // error anywhere is seen: false then, and the index is empty.
    bool buildFromStored(uint64_t size, uint8_t scrambleKey, const PieceReader& read,
                         Pieces pieces);
    bool buildFromStored(uint64_t size, uint8_t scrambleKey, const PieceReader& read) {
        return buildFromStored(size, scrambleKey, read, Pieces());
    }
    void clear();

    // True when hashText (exactly 32 characters) occurs in the indexed text.
    bool contains(std::string_view hashText) const;
    // The same for the 32 uppercase digits of a digest, without writing them.
    bool containsDigest(const uint8_t digest[16]) const;

    // Windows indexed, one the text holds twice counted twice.
    size_t windowCount() const { return m_windows.size(); }
    size_t longRunBytes() const { return m_longRuns.size(); }

    // The 16 bytes of a window as two big-endian halves: comparing keys
    // compares the digits. Left unset until a window is packed into it.
    struct Key {
        uint64_t high;
        uint64_t low;
        friend bool operator<(const Key& a, const Key& b) {
            return a.high != b.high ? a.high < b.high : a.low < b.low;
        }
        friend bool operator==(const Key& a, const Key& b) {
            return a.high == b.high && a.low == b.low;
        }
    };

    // A list of keys grows without clearing what it grows by: every key is
    // written before it is read, and clearing the megabytes of a large
    // index first would be a pass of its own, on one thread.
    template <class T>
    struct UnclearedAllocator : platform::LargeAllocator<T> {
        template <class U>
        struct rebind {
            using other = UnclearedAllocator<U>;
        };
        UnclearedAllocator() = default;
        template <class U>
        UnclearedAllocator(const UnclearedAllocator<U>&) {}
        template <class U, class... Args>
        void construct(U* p, Args&&... args) {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
        template <class U>
        void construct(U* p) noexcept {
            ::new (static_cast<void*>(p)) U;
        }
    };

    using KeyList = std::vector<Key, UnclearedAllocator<Key>>;

private:
    void place(const KeyList& first, const KeyList& second, bool twoThreads);
    bool windowsContain(const Key& key) const;
    bool longRunsContain(std::string_view hashText) const;

    // In directory buckets; a bucket is sorted only when it holds more
    // than a few keys. A window the text holds twice is there twice.
    KeyList m_windows;
    std::string m_longRuns;  // long runs joined by '\n'
    // Where the keys of each value of their top bits begin in m_windows (one
    // more entry at the end): a lookup reads one entry here and searches a
    // handful of neighbouring keys, instead of some twenty far-apart probes
    // of a binary search over the whole list, each a cache (and, in a
    // virtual machine, a costly page-table) miss.
    std::vector<uint32_t, platform::LargeAllocator<uint32_t>> m_directory;
    unsigned m_directoryShift = 64;
    // One bit per value of some bits of the keys' low half, set for every
    // key: small enough to stay in the processor's cache, it turns most
    // absent hashes (nearly every file scanned) away without touching the
    // list or the directory.
    std::vector<uint64_t> m_filter;
    unsigned m_filterShift = 64;
};

}  // namespace names
