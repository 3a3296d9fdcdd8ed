#include "common/hash_index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <functional>

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

// 16 digits to 64 bits; false when any character is not a digit.
bool packHalf(const char* digits, uint64_t& out) {
    uint64_t value = 0;
    uint8_t bad = 0;
    for (size_t i = 0; i < 16; ++i) {
        const uint8_t v = kDigitValue[static_cast<uint8_t>(digits[i])];
        bad |= v & 0xF0;
        value = (value << 4) | (v & 0x0F);
    }
    out = value;
    return bad == 0;
}

// 32 uppercase hex digits to a key. Windows starting at an odd digit do not
// fall on byte boundaries; they are packed from the digits directly, so two
// keys are equal only when their digits are.
bool packDigits(const char* digits, HashIndex::Key& key) {
    return packHalf(digits, key.high) && packHalf(digits + 16, key.low);
}

// Sorts keys of uniformly spread digits fast: a counting pass on the top 16
// bits puts each key in its bucket, then each small bucket is sorted. Any
// input comes out sorted; skewed input only makes some buckets larger.
void sortKeys(HashIndex::KeyList& keys) {
    constexpr size_t kBuckets = 1 << 16;
    if (keys.size() < 4096) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    std::vector<uint32_t> start(kBuckets + 1, 0);
    for (const auto& k : keys) ++start[(k.high >> 48) + 1];
    for (size_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
    HashIndex::KeyList sorted(keys.size());
    std::vector<uint32_t> next(start.begin(), start.end() - 1);
    for (const auto& k : keys) sorted[next[k.high >> 48]++] = k;
    for (size_t b = 0; b < kBuckets; ++b)
        std::sort(sorted.begin() + start[b], sorted.begin() + start[b + 1]);
    keys.swap(sorted);
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
    // An ordinary database has one entry and one line break per 33 bytes.
    m_windows.reserve(text.size() / (kHashDigits + 1) + 1);
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
            Key key;
            if (packDigits(data + i, key) && (size - i == kHashDigits || !isDigit(data[i + 32]))) {
                m_windows.push_back(key);
                i += kHashDigits;
                continue;
            }
        }
        size_t start = i;
        while (i < size && isDigit(data[i])) ++i;
        size_t runLength = i - start;
        if (runLength < kHashDigits) continue;
        if (runLength > kMaxIndexedRun) {
            m_longRuns.append(data + start, runLength);
            m_longRuns.push_back('\n');
            continue;
        }
        for (size_t w = start; w + kHashDigits <= i; ++w) {
            Key key;
            packDigits(data + w, key);
            m_windows.push_back(key);
        }
    }
    sortKeys(m_windows);
    m_windows.erase(std::unique(m_windows.begin(), m_windows.end()), m_windows.end());
    if (m_windows.empty()) return;
    // About one key per bucket (at most 2^24 buckets, 64 MiB of directory).
    const unsigned bits = std::clamp<unsigned>(std::bit_width(m_windows.size()), 1, 24);
    m_directoryShift = 64 - bits;
    m_directory.assign((size_t{1} << bits) + 1, 0);
    for (const Key& k : m_windows) ++m_directory[(k.high >> m_directoryShift) + 1];
    for (size_t b = 1; b < m_directory.size(); ++b) m_directory[b] += m_directory[b - 1];
    // About eight bits per key, at most 1 MiB.
    const unsigned filterBits = std::clamp<unsigned>(bits + 3, 6, 23);
    m_filterShift = 64 - filterBits;
    m_filter.assign((size_t{1} << filterBits) / 64, 0);
    for (const Key& k : m_windows) {
        const uint64_t bit = k.low >> m_filterShift;
        m_filter[bit / 64] |= uint64_t{1} << (bit % 64);
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
