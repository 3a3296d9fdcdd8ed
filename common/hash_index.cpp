#include "common/hash_index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <new>
#include <thread>

namespace names {

namespace {

constexpr size_t kHashDigits = 32;
// Runs up to this long are indexed window by window; longer ones are searched.
constexpr size_t kMaxIndexedRun = 4 * kHashDigits;

// The value of each uppercase hex digit; 0xFF for every other byte.
constexpr std::array<uint8_t, 256> kDigitValue = [] {
    std::array<uint8_t, 256> table{};
    for (auto& v : table) v = 0xFF;
    for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<uint8_t>(c - 'A' + 10);
    return table;
}();

bool isDigit(char c) { return kDigitValue[static_cast<uint8_t>(c)] != 0xFF; }

// Eight characters as a number whose top byte is the first character.
uint64_t loadBigEndian(const char* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}

constexpr uint64_t kEachByte = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7Full;

// The high bit of each byte of word whose value lies strictly between above
// and below (both at most 128).
constexpr uint64_t bytesBetween(uint64_t word, uint64_t above, uint64_t below) {
    const uint64_t low = word & kLowSeven;
    return (kEachByte * (127 + below) - low) & ~word & (low + kEachByte * (127 - above)) & kHighBits;
}

// Eight digits to 32 bits, all eight bytes at once (the index reads a
// million entries at every scan); false when any byte is not a digit.
bool packEight(const char* digits, uint64_t& out) {
    const uint64_t word = loadBigEndian(digits);
    const uint64_t digitBytes = bytesBetween(word, '0' - 1, '9' + 1) | bytesBetween(word, 'A' - 1, 'F' + 1);
    // '0'-'9' keep their low four bits; 'A'-'F' (bit 6 set) gain nine.
    uint64_t v = (word & (kEachByte * 0x0F)) + 9 * ((word >> 6) & kEachByte);
    v = (v | (v >> 4)) & 0x00FF00FF00FF00FFull;
    v = (v | (v >> 8)) & 0x0000FFFF0000FFFFull;
    v = (v | (v >> 16)) & 0x00000000FFFFFFFFull;
    out = v;
    return digitBytes == kHighBits;
}

// 16 digits to 64 bits; false when any character is not a digit.
bool packHalf(const char* digits, uint64_t& out) {
    uint64_t first = 0, second = 0;
    const bool ok = packEight(digits, first) & packEight(digits + 8, second);
    out = (first << 32) | second;
    return ok;
}

// 32 uppercase hex digits to a key. Windows starting at an odd digit do not
// fall on byte boundaries; they are packed from the digits directly, so two
// keys are equal only when their digits are.
bool packDigits(const char* digits, HashIndex::Key& key) {
    return packHalf(digits, key.high) && packHalf(digits + 16, key.low);
}

// Below this many bytes of text an index is built on one thread: starting a
// second costs more than it saves.
constexpr size_t kParallelTextBytes = 1u << 20;

// Runs work(first, last) over [0, count) in two halves, the second half on a
// thread of its own. Memory running out on that thread is rethrown here.
template <class Work>
void inTwoHalves(size_t count, size_t split, Work work) {
    bool outOfMemory = false;
    std::thread second([&] {
        try {
            work(split, count);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    });
    try {
        work(size_t{0}, split);
    } catch (const std::bad_alloc&) {
        second.join();
        throw;
    }
    second.join();
    if (outOfMemory) throw std::bad_alloc();
}

// Sorts the keys of both lists, uniformly spread digits expected, into one:
// a counting pass on the top 16 bits puts each key in its bucket, then each
// small bucket is sorted (the buckets in two halves on two threads for a
// large list). Any input comes out sorted; skewed input only makes some
// buckets larger.
HashIndex::KeyList sortKeys(const HashIndex::KeyList& first, const HashIndex::KeyList& second,
                            bool twoThreads) {
    constexpr size_t kBuckets = 1 << 16;
    HashIndex::KeyList sorted;
    sorted.reserve(first.size() + second.size());
    if (sorted.capacity() < 4096) {
        sorted.insert(sorted.end(), first.begin(), first.end());
        sorted.insert(sorted.end(), second.begin(), second.end());
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    // Each list is counted and scattered by a thread of its own: in every
    // bucket the first list's keys come first, then the second's.
    std::vector<uint32_t> firstCount(kBuckets, 0), secondCount(kBuckets, 0);
    const HashIndex::KeyList* lists[] = {&first, &second};
    std::vector<uint32_t>* counts[] = {&firstCount, &secondCount};
    auto perList = [&](auto work) {
        if (twoThreads)
            inTwoHalves(2, 1, [&](size_t list, size_t) { work(list); });
        else
            for (size_t list = 0; list < 2; ++list) work(list);
    };
    perList([&](size_t list) {
        std::vector<uint32_t>& count = *counts[list];
        for (const auto& k : *lists[list]) ++count[k.high >> 48];
    });
    std::vector<uint32_t> start(kBuckets + 1, 0);
    for (size_t b = 0; b < kBuckets; ++b) start[b + 1] = start[b] + firstCount[b] + secondCount[b];
    sorted.resize(first.size() + second.size());
    perList([&](size_t list) {
        std::vector<uint32_t> next(kBuckets);
        for (size_t b = 0; b < kBuckets; ++b) next[b] = start[b] + (list == 0 ? 0 : firstCount[b]);
        for (const auto& k : *lists[list]) sorted[next[k.high >> 48]++] = k;
    });
    auto sortBuckets = [&](size_t firstBucket, size_t lastBucket) {
        for (size_t b = firstBucket; b < lastBucket; ++b)
            std::sort(sorted.begin() + start[b], sorted.begin() + start[b + 1]);
    };
    if (twoThreads)
        inTwoHalves(kBuckets, kBuckets / 2, sortBuckets);
    else
        sortBuckets(0, kBuckets);
    return sorted;
}

// The windows of text (one per ordinary entry) into keys, and its long runs
// into longRuns, each run followed by a line break.
void collectWindows(std::string_view text, HashIndex::KeyList& keys, std::string& longRuns) {
    // An ordinary database has one entry and one line break per 33 bytes.
    keys.reserve(text.size() / (kHashDigits + 1) + 1);
    const char* data = text.data();
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        if (!isDigit(data[i])) {
            ++i;
            continue;
        }
        // The usual entry: exactly 32 digits and then a non-digit.
        if (size - i >= kHashDigits) {
            HashIndex::Key key;
            if (packDigits(data + i, key) && (size - i == kHashDigits || !isDigit(data[i + 32]))) {
                keys.push_back(key);
                i += kHashDigits;
                continue;
            }
        }
        size_t start = i;
        while (i < size && isDigit(data[i])) ++i;
        size_t runLength = i - start;
        if (runLength < kHashDigits) continue;
        if (runLength > kMaxIndexedRun) {
            longRuns.append(data + start, runLength);
            longRuns.push_back('\n');
            continue;
        }
        for (size_t w = start; w + kHashDigits <= i; ++w) {
            HashIndex::Key key;
            packDigits(data + w, key);
            keys.push_back(key);
        }
    }
}

}  // namespace

void HashIndex::clear() {
    m_windows.clear();
    m_windows.shrink_to_fit();
    m_longRuns.clear();
    m_directory.clear();
    m_directory.shrink_to_fit();
    m_directoryShift = 64;
    m_filter.clear();
    m_filter.shrink_to_fit();
    m_filterShift = 64;
}

void HashIndex::build(std::string_view text) {
    clear();
    // A large text is read in two halves at once. The halves meet at a
    // non-digit, so every run of digits, and with it every window, lies
    // wholly in one of them, and the second half's long runs follow the
    // first's as in one pass.
    size_t split = 0;
    const bool twoThreads = text.size() >= kParallelTextBytes;
    if (twoThreads) {
        split = text.size() / 2;
        while (split < text.size() && isDigit(text[split])) ++split;
    }
    KeyList firstKeys, secondKeys;
    std::string secondLongRuns;
    if (twoThreads) {
        inTwoHalves(2, 1, [&](size_t half, size_t) {
            if (half == 0)
                collectWindows(text.substr(0, split), firstKeys, m_longRuns);
            else
                collectWindows(text.substr(split), secondKeys, secondLongRuns);
        });
        m_longRuns += secondLongRuns;
    } else {
        collectWindows(text, firstKeys, m_longRuns);
    }
    m_windows = sortKeys(firstKeys, secondKeys, twoThreads);
    firstKeys = KeyList();
    secondKeys = KeyList();
    m_windows.erase(std::unique(m_windows.begin(), m_windows.end()), m_windows.end());
    if (m_windows.empty()) return;
    // About one key per bucket (at most 2^24 buckets, 64 MiB of directory).
    const unsigned bits = std::clamp<unsigned>(std::bit_width(m_windows.size()), 1, 24);
    m_directoryShift = 64 - bits;
    // The keys are sorted: each bucket's start is found by walking them once,
    // in order, instead of counting into the directory at random.
    m_directory.resize((size_t{1} << bits) + 1);
    // About eight bits per key, at most 1 MiB.
    const unsigned filterBits = std::clamp<unsigned>(bits + 3, 6, 23);
    m_filterShift = 64 - filterBits;
    m_filter.assign((size_t{1} << filterBits) / 64, 0);
    auto fillDirectory = [this] {
        size_t key = 0;
        for (size_t b = 0; b < m_directory.size(); ++b) {
            while (key < m_windows.size() && (m_windows[key].high >> m_directoryShift) < b) ++key;
            m_directory[b] = static_cast<uint32_t>(key);
        }
    };
    auto fillFilter = [this] {
        for (const Key& k : m_windows) {
            const uint64_t bit = k.low >> m_filterShift;
            m_filter[bit / 64] |= uint64_t{1} << (bit % 64);
        }
    };
    // The directory and the filter are each a pass over every key: one each
    // on two threads for a large index.
    if (twoThreads) {
        inTwoHalves(2, 1, [&](size_t part, size_t) { part == 0 ? fillDirectory() : fillFilter(); });
    } else {
        fillDirectory();
        fillFilter();
    }
}

bool HashIndex::contains(std::string_view hashText) const {
    if (hashText.size() != kHashDigits) return false;
    Key key;
    if (!packDigits(hashText.data(), key)) return false;
    if (!m_directory.empty()) {
        const uint64_t bit = key.low >> m_filterShift;
        if ((m_filter[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return longRunsContain(hashText);
        const uint64_t bucket = key.high >> m_directoryShift;
        const auto first = m_windows.begin() + m_directory[bucket];
        const auto last = m_windows.begin() + m_directory[bucket + 1];
        if (std::binary_search(first, last, key)) return true;
    }
    return longRunsContain(hashText);
}

bool HashIndex::longRunsContain(std::string_view hashText) const {
    if (m_longRuns.empty()) return false;
    auto it = std::search(m_longRuns.begin(), m_longRuns.end(),
                          std::boyer_moore_horspool_searcher(hashText.begin(), hashText.end()));
    return it != m_longRuns.end();
}

}  // namespace names
