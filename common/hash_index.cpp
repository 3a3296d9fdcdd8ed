#include "common/hash_index.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace names {

namespace {

constexpr size_t kHashDigits = 32;
// Runs up to this long are indexed window by window; longer ones are searched.
constexpr size_t kMaxIndexedRun = 4 * kHashDigits;

int upperHexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 32 uppercase hex digits to 16 bytes; false when any character is not one.
bool packDigits(const char* digits, std::array<uint8_t, 16>& key) {
    for (size_t i = 0; i < 16; ++i) {
        int hi = upperHexValue(digits[2 * i]);
        int lo = upperHexValue(digits[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        key[i] = static_cast<uint8_t>((hi << 4) | lo);
    }
    return true;
}

// Windows starting at an odd digit do not fall on byte boundaries; they are
// packed from the digits directly, so each window is its own key. A window
// and the key of a different window can only be equal when their digits are.
}  // namespace

void HashIndex::clear() {
    m_windows.clear();
    m_windows.shrink_to_fit();
    m_longRuns.clear();
}

void HashIndex::build(std::string_view text) {
    clear();
    size_t i = 0;
    while (i < text.size()) {
        if (upperHexValue(text[i]) < 0) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && upperHexValue(text[i]) >= 0) ++i;
        size_t runLength = i - start;
        if (runLength < kHashDigits) continue;
        if (runLength > kMaxIndexedRun) {
            m_longRuns.append(text.substr(start, runLength));
            m_longRuns.push_back('\n');
            continue;
        }
        for (size_t w = start; w + kHashDigits <= i; ++w) {
            Key key;
            packDigits(text.data() + w, key);
            m_windows.push_back(key);
        }
    }
    std::sort(m_windows.begin(), m_windows.end());
    m_windows.erase(std::unique(m_windows.begin(), m_windows.end()), m_windows.end());
    m_windows.shrink_to_fit();
}

bool HashIndex::contains(std::string_view hashText) const {
    if (hashText.size() != kHashDigits) return false;
    Key key;
    if (!packDigits(hashText.data(), key)) return false;
    if (std::binary_search(m_windows.begin(), m_windows.end(), key)) return true;
    if (m_longRuns.empty()) return false;
    auto it = std::search(m_longRuns.begin(), m_longRuns.end(),
                          std::boyer_moore_horspool_searcher(hashText.begin(), hashText.end()));
    return it != m_longRuns.end();
}

}  // namespace names
