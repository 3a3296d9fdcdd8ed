#include "common/hash_index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <new>
#include <thread>

#include "common/digest_text.h"
#include "common/hash_db_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The byte of a text stored with each byte XORed with key, as it reads plain.
char plain(char stored, uint8_t key) {
    return static_cast<char>(static_cast<uint8_t>(stored) ^ key);
}

#if defined(__SSE2__)

// 16 digits to 64 bits, all sixteen bytes at once (the index reads a
// million entries at every scan); false when any byte is not a digit.
inline bool packHalf(const char* digits, uint8_t key, uint64_t& out) {
    const __m128i c = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(digits)),
                                    _mm_set1_epi8(static_cast<char>(key)));
    // Bytes of 128 and above compare as negative: never a digit.
    const __m128i decimal = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                          _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('A' - 1)),
                                         _mm_cmplt_epi8(c, _mm_set1_epi8('F' + 1)));
    const bool ok = _mm_movemask_epi8(_mm_or_si128(decimal, letter)) == 0xFFFF;
    // '0'-'9' to 0-9 and 'A'-'F' to 10-15 ('A' is seven past '9' + 1).
    const __m128i value =
        _mm_sub_epi8(_mm_sub_epi8(c, _mm_set1_epi8('0')), _mm_and_si128(letter, _mm_set1_epi8(7)));
    // Each 16-bit lane holds a digit pair, the first digit in its low byte.
    const __m128i pairs = _mm_or_si128(
        _mm_slli_epi16(_mm_and_si128(value, _mm_set1_epi16(0xFF)), 4), _mm_srli_epi16(value, 8));
    const uint64_t bytes = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(pairs, pairs)));
    out = std::endian::native == std::endian::little ? __builtin_bswap64(bytes) : bytes;
    return ok;
}

#else

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

// Eight digits to 32 bits, all eight bytes at once; false when any byte is
// not a digit.
inline bool packEight(const char* digits, uint8_t key, uint64_t& out) {
    const uint64_t word = loadBigEndian(digits) ^ (kEachByte * key);
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
inline bool packHalf(const char* digits, uint8_t key, uint64_t& out) {
    uint64_t first = 0, second = 0;
    const bool ok = packEight(digits, key, first) & packEight(digits + 8, key, second);
    out = (first << 32) | second;
    return ok;
}

#endif

// 32 uppercase hex digits to a key. Windows starting at an odd digit do not
// fall on byte boundaries; they are packed from the digits directly, so two
// keys are equal only when their digits are.
inline bool packDigits(const char* digits, uint8_t scrambleKey, HashIndex::Key& key) {
    return packHalf(digits, scrambleKey, key.high) & packHalf(digits + 16, scrambleKey, key.low);
}

// A directory bucket of at most this many keys is searched key by key, as
// placed; a larger one (a text whose entries crowd some leading digits) is
// sorted and searched by halves.
constexpr size_t kUnsortedBucketKeys = 16;

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

// The windows of text (one per ordinary entry) into keys, and its long runs
// into longRuns, each run followed by a line break.
void collectWindows(std::string_view text, uint8_t scrambleKey, HashIndex::KeyList& keys,
                    std::string& longRuns) {
    const char* data = text.data();
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        if (!isDigit(plain(data[i], scrambleKey))) {
            ++i;
            continue;
        }
        // The usual entry: exactly 32 digits and then a non-digit.
        if (size - i >= kHashDigits) {
            HashIndex::Key key;
            if (packDigits(data + i, scrambleKey, key) &&
                (size - i == kHashDigits || !isDigit(plain(data[i + 32], scrambleKey)))) {
                keys.push_back(key);
                i += kHashDigits;
                continue;
            }
        }
        size_t start = i;
        while (i < size && isDigit(plain(data[i], scrambleKey))) ++i;
        size_t runLength = i - start;
        if (runLength < kHashDigits) continue;
        if (runLength > kMaxIndexedRun) {
            for (size_t c = start; c < i; ++c) longRuns.push_back(plain(data[c], scrambleKey));
            longRuns.push_back('\n');
            continue;
        }
        for (size_t w = start; w + kHashDigits <= i; ++w) {
            HashIndex::Key key;
            packDigits(data + w, scrambleKey, key);
            keys.push_back(key);
        }
    }
}

// An ordinary database has one entry and one line break per 33 bytes.
size_t expectedWindows(uint64_t textBytes) {
    return static_cast<size_t>(textBytes / (kHashDigits + 1) + 1);
}

// What the collection of one half of a stored text found.
struct HalfRead {
    bool readFailed = false;
    bool textEnded = false;  // the text's end (a zero or the file's end) lies in this half
};

// Reads up to `want` bytes at offset, as many as there are; false on a read error.
bool readPiece(const HashIndex::PieceReader& read, uint64_t offset, char* into, size_t want,
               size_t& got) {
    got = 0;
    while (got < want) {
        size_t more = 0;
        if (!read(offset + got, into + got, want - got, more)) return false;
        if (more == 0) break;
        got += more;
    }
    return true;
}

// Collects one half of a stored text of `size` bytes that is read in pieces.
// The halves meet at the first non-digit at or after `middle`: the first
// half (from 0) ends there, the second (from `middle`) skips the digits
// before it, so that every run of digits lies wholly in one half. A run cut
// by a piece's end is carried into the next piece while it may still be
// indexed, and goes to longRuns as it is read once it is too long to be.
// Every byte of the half is read, also behind the text's end.
HalfRead collectStoredHalf(uint64_t size, uint8_t scrambleKey, const HashIndex::PieceReader& read,
                           size_t pieceBytes, bool firstHalf, uint64_t middle,
                           HashIndex::KeyList& keys, std::string& longRuns) {
    HalfRead outcome;
    std::vector<char> buffer(kMaxIndexedRun + pieceBytes);
    size_t carried = 0;      // an unfinished run's digits, as stored, at the buffer's start
    bool inLongRun = false;  // an unfinished run already in longRuns
    bool skipping = !firstHalf;
    bool halfEnded = false;  // the first half has reached the second
    uint64_t offset = firstHalf ? 0 : middle;
    // Bytes are read through the key where they are looked at: they stay as stored.
    auto digitAt = [scrambleKey](const char* at) { return isDigit(plain(*at, scrambleKey)); };
    keys.reserve(expectedWindows(firstHalf ? middle : size - middle));
    while (offset < size && !halfEnded) {
        if (outcome.textEnded && firstHalf && offset >= middle) break;
        char* piece = buffer.data() + carried;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(pieceBytes, size - offset));
        size_t got = 0;
        if (!readPiece(read, offset, piece, want, got)) {
            outcome.readFailed = true;
            return outcome;
        }
        const uint64_t at = offset;
        offset += got;
        const bool fileEnded = got < want || offset >= size;
        if (fileEnded) offset = size;
        // Behind the text's end a piece is only read, to see that it reads.
        if (outcome.textEnded) continue;

        size_t length = storedTextLength(piece, got, scrambleKey);
        const bool textEnds = length < got || fileEnded;
        if (firstHalf && at + length > middle) {
            // Past the middle the first half ends at the first non-digit.
            for (size_t i = at >= middle ? 0 : static_cast<size_t>(middle - at); i < length; ++i) {
                if (!digitAt(piece + i)) {
                    length = i;
                    halfEnded = true;
                    break;
                }
            }
        }
        outcome.textEnded = textEnds && !halfEnded;
        const bool last = halfEnded || outcome.textEnded;

        const char* text = buffer.data();
        size_t textSize = carried + length;
        if (skipping) {
            // The digits the second half begins with belong to the first.
            size_t begin = 0;
            while (begin < length && digitAt(piece + begin)) ++begin;
            if (begin == length) continue;
            skipping = false;
            text = piece + begin;
            textSize = length - begin;
        }
        carried = 0;
        if (inLongRun) {
            size_t digits = 0;
            while (digits < textSize && digitAt(text + digits)) ++digits;
            for (size_t i = 0; i < digits; ++i) longRuns.push_back(plain(text[i], scrambleKey));
            text += digits;
            textSize -= digits;
            if (textSize > 0 || last) {
                longRuns.push_back('\n');
                inLongRun = false;
            }
            if (inLongRun) continue;
        }
        // Runs cut by the piece's end wait for the next piece.
        size_t complete = textSize;
        if (!last)
            while (complete > 0 && digitAt(text + complete - 1)) --complete;
        collectWindows(std::string_view(text, complete), scrambleKey, keys, longRuns);
        const size_t tail = textSize - complete;
        if (tail > kMaxIndexedRun) {
            for (size_t i = complete; i < textSize; ++i)
                longRuns.push_back(plain(text[i], scrambleKey));
            inLongRun = true;
        } else {
            std::memmove(buffer.data(), text + complete, tail);
            carried = tail;
        }
    }
    return outcome;
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
            // Collected into a list of the thread's own (see collectStoredHalf).
            KeyList keys;
            const std::string_view part = half == 0 ? text.substr(0, split) : text.substr(split);
            keys.reserve(expectedWindows(part.size()));
            collectWindows(part, 0, keys, half == 0 ? m_longRuns : secondLongRuns);
            (half == 0 ? firstKeys : secondKeys) = std::move(keys);
        });
        m_longRuns += secondLongRuns;
    } else {
        firstKeys.reserve(expectedWindows(text.size()));
        collectWindows(text, 0, firstKeys, m_longRuns);
    }
    place(firstKeys, secondKeys, twoThreads);
}

bool HashIndex::buildFromStored(uint64_t size, uint8_t scrambleKey, const PieceReader& read,
                                Pieces pieces) {
    clear();
    // Pieces are read into a buffer and collected from there, while they
    // are still in the processor's cache.
    const size_t pieceBytes = std::max<size_t>(pieces.pieceBytes, 1);
    const bool twoThreads = size >= std::max<uint64_t>(pieces.twoHalvesFrom, 2);
    const uint64_t middle = twoThreads ? size / 2 : size;
    KeyList firstKeys, secondKeys;
    std::string secondLongRuns;
    HalfRead halves[2];
    if (twoThreads) {
        inTwoHalves(2, 1, [&](size_t half, size_t) {
            // Each thread adds to a list of its own, on its own stack: the
            // two lists side by side here would share a cache line, which
            // every key added by either thread would take from the other.
            KeyList keys;
            halves[half] = collectStoredHalf(size, scrambleKey, read, pieceBytes, half == 0, middle,
                                             keys, half == 0 ? m_longRuns : secondLongRuns);
            (half == 0 ? firstKeys : secondKeys) = std::move(keys);
        });
    } else {
        halves[0] = collectStoredHalf(size, scrambleKey, read, pieceBytes, true, middle, firstKeys,
                                      m_longRuns);
    }
    if (halves[0].readFailed || halves[1].readFailed) {
        clear();
        return false;
    }
    // Nothing of the second half is text when the text ended in the first.
    if (halves[0].textEnded) {
        secondKeys = KeyList();
    } else {
        m_longRuns += secondLongRuns;
    }
    place(firstKeys, secondKeys, twoThreads);
    return true;
}

// The keys of both lists placed into m_windows, with the directory and the
// filter, uniformly spread digits expected: a counting pass puts each key in
// its directory bucket, where a lookup compares it with the few others;
// only a bucket of more keys than that is sorted. Skewed input only makes
// some buckets larger. A key listed twice is kept twice.
void HashIndex::place(const KeyList& first, const KeyList& second, bool twoThreads) {
    const size_t count = first.size() + second.size();
    if (count == 0) return;
    // About four keys per bucket, one cache line of them (at most 2^22
    // buckets, 16 MiB of directory): the counts and the directory stay small
    // enough for the processor's cache while the keys are placed.
    const unsigned keyBits = static_cast<unsigned>(std::bit_width(count));
    const unsigned bits = std::clamp<unsigned>(keyBits > 2 ? keyBits - 2 : 1, 1, 22);
    m_directoryShift = 64 - bits;
    const size_t buckets = size_t{1} << bits;
    // About eight bits per key, at most 1 MiB.
    const unsigned filterBits = std::clamp<unsigned>(keyBits + 3, 6, 23);
    m_filterShift = 64 - filterBits;
    const size_t filterWords = (size_t{1} << filterBits) / 64;

    // Each list is counted, and its keys put in the filter, by a thread of
    // its own; in every bucket the first list's keys come first.
    const KeyList* lists[] = {&first, &second};
    std::vector<uint32_t, platform::LargeAllocator<uint32_t>> counts[2];
    std::vector<uint64_t> filters[2];
    auto perList = [&](auto work) {
        if (twoThreads)
            inTwoHalves(2, 1, [&](size_t list, size_t) { work(list); });
        else
            for (size_t list = 0; list < 2; ++list) work(list);
    };
    perList([&](size_t list) {
        counts[list].assign(buckets, 0);
        filters[list].assign(filterWords, 0);
        uint32_t* count = counts[list].data();
        uint64_t* filter = filters[list].data();
        for (const Key& k : *lists[list]) {
            ++count[k.high >> m_directoryShift];
            const uint64_t bit = k.low >> m_filterShift;
            filter[bit / 64] |= uint64_t{1} << (bit % 64);
        }
    });
    m_filter = std::move(filters[0]);
    for (size_t w = 0; w < filterWords; ++w) m_filter[w] |= filters[1][w];
    filters[1] = std::vector<uint64_t>();

    // The directory holds where each bucket begins; the counts become where
    // each list's next key in that bucket goes.
    m_directory.resize(buckets + 1);
    uint32_t start = 0;
    for (size_t b = 0; b < buckets; ++b) {
        const uint32_t fromFirst = counts[0][b];
        const uint32_t fromSecond = counts[1][b];
        m_directory[b] = start;
        counts[0][b] = start;
        counts[1][b] = start + fromFirst;
        start += fromFirst + fromSecond;
    }
    m_directory[buckets] = start;
    m_windows.resize(count);
    perList([&](size_t list) {
        uint32_t* next = counts[list].data();
        Key* sorted = m_windows.data();
        for (const Key& k : *lists[list]) sorted[next[k.high >> m_directoryShift]++] = k;
    });
    counts[0] = {};
    counts[1] = {};

    // Only the crowded buckets are sorted.
    auto sortBuckets = [&](size_t firstBucket, size_t lastBucket) {
        Key* keys = m_windows.data();
        for (size_t b = firstBucket; b < lastBucket; ++b) {
            const uint32_t begin = m_directory[b];
            const uint32_t end = m_directory[b + 1];
            if (end - begin > kUnsortedBucketKeys) std::sort(keys + begin, keys + end);
        }
    };
    if (twoThreads)
        inTwoHalves(buckets, buckets / 2, sortBuckets);
    else
        sortBuckets(0, buckets);
}

bool HashIndex::contains(std::string_view hashText) const {
    if (hashText.size() != kHashDigits) return false;
    Key key;
    if (!packDigits(hashText.data(), 0, key)) return false;
    return windowsContain(key) || longRunsContain(hashText);
}

bool HashIndex::containsDigest(const uint8_t digest[16]) const {
    // The key of a digest's uppercase digits is the digest read big-endian.
    Key key{0, 0};
    for (int i = 0; i < 8; ++i) {
        key.high = (key.high << 8) | digest[i];
        key.low = (key.low << 8) | digest[8 + i];
    }
    if (windowsContain(key)) return true;
    if (m_longRuns.empty()) return false;
    char text[kHashDigits + 1];
    digestDigitsUpperAscii(digest, text);
    return longRunsContain(std::string_view(text, kHashDigits));
}

bool HashIndex::windowsContain(const Key& key) const {
    if (m_directory.empty()) return false;
    const uint64_t bit = key.low >> m_filterShift;
    if ((m_filter[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return false;
    const uint64_t bucket = key.high >> m_directoryShift;
    const Key* const first = m_windows.data() + m_directory[bucket];
    const Key* const last = m_windows.data() + m_directory[bucket + 1];
    if (static_cast<size_t>(last - first) > kUnsortedBucketKeys)
        return std::binary_search(first, last, key);
    for (const Key* k = first; k != last; ++k)
        if (*k == key) return true;
    return false;
}

bool HashIndex::longRunsContain(std::string_view hashText) const {
    if (m_longRuns.empty()) return false;
    auto it = std::search(m_longRuns.begin(), m_longRuns.end(),
                          std::boyer_moore_horspool_searcher(hashText.begin(), hashText.end()));
    return it != m_longRuns.end();
}

}  // namespace names
