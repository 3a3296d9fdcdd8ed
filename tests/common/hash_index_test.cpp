#include "common/hash_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <random>
#include <set>

namespace {

const std::string kA = "44D88612FEA8A8F36DE82E1278ABB02F";
const std::string kB = "D41D8CD98F00B204E9800998ECF8427E";

// The meaning the index must keep: a plain substring search of the text.
bool substringSearch(const std::string& text, const std::string& hash) {
    return text.find(hash) != std::string::npos;
}

// The text as stored with each byte XORed with key.
std::string scrambled(std::string text, uint8_t key) {
    for (char& c : text) c = static_cast<char>(static_cast<uint8_t>(c) ^ key);
    return text;
}

// A stored text read as a file would be, in reads of at most `most` bytes;
// a read at or past `failAt` fails.
names::HashIndex::PieceReader readerOf(const std::string& stored, size_t most,
                                       uint64_t failAt = UINT64_MAX) {
    return [&stored, most, failAt](uint64_t offset, char* into, size_t bytes, size_t& got) {
        got = 0;
        if (offset + bytes > failAt) return false;
        if (offset >= stored.size()) return true;
        got = std::min({bytes, most, static_cast<size_t>(stored.size() - offset)});
        std::memcpy(into, stored.data() + offset, got);
        return true;
    };
}

constexpr char kDigits[] = "0123456789ABCDEF";

// `length` random uppercase hex digits.
std::string randomDigits(std::mt19937_64& rng, size_t length) {
    std::string digits;
    for (size_t d = 0; d < length; ++d) digits.push_back(kDigits[rng() % 16]);
    return digits;
}

}  // namespace

TEST(HashIndex, AnswersAsASubstringSearchWould) {
    struct Case {
        std::string text;
        std::string query;
    };
    const std::string shifted = kA.substr(1) + kB.substr(0, 1);  // straddles two entries
    const Case cases[] = {
        {kA + "\r\n" + kB + "\r\n", kA},
        {kA + "\r\n" + kB + "\r\n", kB},
        {"junk " + kA + " more", kA},
        {kA + kB, shifted},                                  // windows inside a 64-digit run
        {kA + "\r\n" + kB, shifted},                         // not across a separator
        {"44d88612fea8a8f36de82e1278abb02f", kA},            // lower case never matches
        {kA.substr(0, 31), kA.substr(0, 31) + "0"},          // too short a run
        {std::string(5000, 'A') + kA + std::string(10, 'B'), kA},  // a long run is searched
        {std::string(5000, 'A'), std::string(32, 'A')},
        {"", kA},
    };
    for (const auto& c : cases) {
        names::HashIndex index;
        index.build(c.text);
        EXPECT_EQ(index.contains(c.query), substringSearch(c.text, c.query))
            << "text: " << c.text.substr(0, 80) << " query: " << c.query;
        // The same text stored scrambled, read in pieces of a few bytes, in
        // two halves.
        const std::string stored = scrambled(c.text, 0xD0);
        names::HashIndex fromPieces;
        ASSERT_TRUE(fromPieces.buildFromStored(stored.size(), 0xD0, readerOf(stored, 3), {5, 2}));
        EXPECT_EQ(fromPieces.contains(c.query), substringSearch(c.text, c.query))
            << "text: " << c.text.substr(0, 80) << " query: " << c.query;
    }
}

TEST(HashIndex, RandomTextsAgreeWithSubstringSearch) {
    std::mt19937 rng(7);
    const char alphabet[] = "0123456789ABCDEF0123456789ABCDEFa\r\n";
    for (int round = 0; round < 50; ++round) {
        std::string text;
        for (int i = 0; i < 400; ++i) text.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
        names::HashIndex index;
        index.build(text);
        for (size_t at = 0; at + 32 <= text.size(); ++at) {
            std::string query = text.substr(at, 32);
            // Hash texts are always 32 uppercase hex digits.
            if (query.find_first_not_of("0123456789ABCDEF") != std::string::npos) continue;
            EXPECT_EQ(index.contains(query), substringSearch(text, query));
            query[rng() % 32] = "0123456789ABCDEF"[rng() % 16];
            EXPECT_EQ(index.contains(query), substringSearch(text, query));
        }
    }
}

// A digest is looked up as its 32 uppercase digits would be: entries, a
// window of a long run (searched as text), an entry written in lowercase
// (no hash text matches it) and absent digests.
TEST(HashIndex, ADigestIsFoundAsItsUppercaseDigits) {
    std::mt19937_64 rng(29);
    auto digestOf = [](const std::string& digits) {
        std::array<uint8_t, 16> digest{};
        for (size_t i = 0; i < 16; ++i)
            digest[i] = static_cast<uint8_t>(std::stoi(digits.substr(2 * i, 2), nullptr, 16));
        return digest;
    };
    std::vector<std::string> present;
    std::string text;
    for (int i = 0; i < 200; ++i) {
        present.push_back(randomDigits(rng, 32));
        text += present.back() + "\r\n";
    }
    const std::string longRun = randomDigits(rng, 300);
    text += longRun + "\r\n";
    present.push_back(longRun.substr(100, 32));
    const std::string upperOfLower = randomDigits(rng, 32);
    std::string lower = upperOfLower;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    text += lower + "\r\n";
    for (const bool withLongRuns : {true, false}) {
        names::HashIndex index;
        index.build(withLongRuns ? text : text.substr(0, text.find(longRun)));
        std::vector<std::string> queries = present;
        for (int i = 0; i < 200; ++i) queries.push_back(randomDigits(rng, 32));
        queries.push_back(upperOfLower);
        for (const std::string& query : queries) {
            const auto digest = digestOf(query);
            EXPECT_EQ(index.containsDigest(digest.data()), index.contains(query)) << query;
        }
        EXPECT_TRUE(index.containsDigest(digestOf(present.front()).data()));
        EXPECT_EQ(index.containsDigest(digestOf(present.back()).data()), withLongRuns);
    }
}

// Digits are read eight bytes at a time: every byte value, at every place
// of an entry, is a digit exactly when it is one of 0-9 and A-F.
TEST(HashIndex, EveryByteValueAtEveryPlaceOfAnEntry) {
    const std::string digits = "0123456789ABCDEF";
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const bool isDigit = digits.find(byte) != std::string::npos;
        for (size_t at = 0; at < 32; ++at) {
            std::string entry = kA;
            entry[at] = byte;
            names::HashIndex index;
            index.build("\n" + entry + "\n");
            ASSERT_EQ(index.windowCount(), isDigit ? 1u : 0u) << "byte " << value << " at " << at;
            EXPECT_EQ(index.contains(kA), kA[at] == byte) << "byte " << value << " at " << at;
            if (isDigit) {
                EXPECT_TRUE(index.contains(entry));
            }
        }
    }
}

TEST(HashIndex, OneWindowPerOrdinaryEntry) {
    names::HashIndex index;
    index.build(kA + "\r\n" + kB + "\r\n" + kA + "\r\n");
    EXPECT_EQ(index.windowCount(), 3u);  // an entry listed twice is two windows
    EXPECT_TRUE(index.contains(kA));
    EXPECT_TRUE(index.contains(kB));
    EXPECT_FALSE(index.contains("not a hash"));
}

// A database of many entries: every entry is found, and near misses (the
// same leading or trailing digits as an entry) are not.
TEST(HashIndex, ManyEntriesAndTheirNearMisses) {
    std::mt19937_64 rng(11);
    std::vector<std::string> entries;
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        std::string entry = randomDigits(rng, 32);
        text += entry + "\r\n";
        entries.push_back(std::move(entry));
    }
    names::HashIndex index;
    index.build(text);
    EXPECT_EQ(index.windowCount(), entries.size());
    // With a line break after each entry, only whole entries are in the text.
    const std::set<std::string> inText(entries.begin(), entries.end());
    for (const std::string& entry : entries) ASSERT_TRUE(index.contains(entry)) << entry;
    for (size_t i = 0; i < entries.size(); i += 97) {
        for (size_t at : {0, 15, 16, 31}) {
            std::string near = entries[i];
            near[at] = near[at] == 'F' ? '0' : kDigits[std::string_view(kDigits).find(near[at]) + 1];
            EXPECT_EQ(index.contains(near), inText.count(near) == 1) << near;
        }
    }
}

// A text large enough to be read in two halves at once: a run of digits
// across the middle (its windows, not only its start, are found), long runs
// on both sides, and entries throughout answer as a substring search does.
TEST(HashIndex, ALargeTextReadInTwoHalvesAnswersAsOnePass) {
    std::mt19937_64 rng(5);
    auto run = [&](size_t length) { return randomDigits(rng, length); };
    std::string firstHalf, secondHalf = "\r\n" + run(7000);  // long runs are searched as text
    while (firstHalf.size() < (700u << 10)) firstHalf += run(32) + "\r\n";
    firstHalf += run(6000) + "\r\n";
    while (secondHalf.size() < firstHalf.size()) secondHalf += "\r\n" + run(32);
    secondHalf.resize(firstHalf.size());
    const std::string middle = run(100);  // 69 windows, across the middle
    const std::string text = firstHalf + middle + "\n" + secondHalf;
    ASSERT_GE(text.size(), 1u << 20);
    ASSERT_GT(text.size() / 2, firstHalf.size());
    ASSERT_LT(text.size() / 2, firstHalf.size() + middle.size());
    names::HashIndex index;
    index.build(text);
    // The same text stored scrambled and read in pieces, two halves at once.
    const std::string stored = scrambled(text, 0xD0);
    names::HashIndex fromStored;
    ASSERT_TRUE(fromStored.buildFromStored(stored.size(), 0xD0, readerOf(stored, SIZE_MAX)));
    std::vector<std::string> queries;
    for (size_t at = 0; at + 32 <= middle.size(); ++at) queries.push_back(middle.substr(at, 32));
    for (size_t at = 0; at + 32 <= text.size(); at += 4099) queries.push_back(text.substr(at, 32));
    queries.push_back(secondHalf.substr(secondHalf.size() - 32));
    for (std::string query : queries) {
        if (query.find_first_not_of(kDigits) != std::string::npos) continue;
        EXPECT_EQ(index.contains(query), substringSearch(text, query)) << query;
        EXPECT_EQ(fromStored.contains(query), index.contains(query)) << query;
        query[rng() % 32] = kDigits[rng() % 16];
        EXPECT_EQ(index.contains(query), substringSearch(text, query)) << query;
        EXPECT_EQ(fromStored.contains(query), index.contains(query)) << query;
    }
}

// Keys are placed by their leading digits, a few to a bucket: a large text
// whose entries mostly share their leading digits (one crowded bucket), with
// every entry listed twice, once in each half, finds every entry and no
// near miss (the crowded bucket is searched by halves, the others key by key).
TEST(HashIndex, CrowdedAndRepeatedEntriesOfALargeText) {
    std::mt19937_64 rng(17);
    std::vector<std::string> entries;
    for (int i = 0; i < 20000; ++i) {
        std::string entry = i % 4 == 0 ? "" : "00000000";
        entry += randomDigits(rng, 32 - entry.size());
        entries.push_back(std::move(entry));
    }
    std::string text;
    for (int pass = 0; pass < 2; ++pass)
        for (const std::string& entry : entries) text += entry + "\r\n";
    ASSERT_GE(text.size(), 1u << 20);
    names::HashIndex index;
    index.build(text);
    EXPECT_EQ(index.windowCount(), 2 * entries.size());
    for (const std::string& entry : entries) ASSERT_TRUE(index.contains(entry)) << entry;
    const std::set<std::string> unique(entries.begin(), entries.end());
    for (size_t i = 0; i < entries.size(); i += 7) {
        std::string near = entries[i];
        near[31] = near[31] == '0' ? '1' : '0';
        // With a line break after each entry, only whole entries are in the text.
        EXPECT_EQ(index.contains(near), unique.count(near) == 1) << near;
    }
}

// A stored text is read a piece at a time, in two halves for a large one:
// runs cut by a piece's end or by the middle (short, indexable, long, longer
// than a piece) are found as in the whole text, and the text ends at its
// first stored zero or key byte, in either half.
TEST(HashIndex, AStoredTextReadInPiecesAnswersAsTheWholeText) {
    std::mt19937_64 rng(23);
    auto run = [&](size_t length) { return randomDigits(rng, length); };
    constexpr size_t kPiece = 256 << 10;
    std::string text;
    // Each run placed to straddle the next piece boundary.
    for (size_t length : {20, 32, 60, 128, 129, 400, 300000, 32, 90}) {
        const size_t boundary = (text.size() / kPiece + 1) * kPiece;
        while (text.size() + 33 + length / 2 < boundary) text += run(32) + "\r\n";
        text.resize(boundary - length / 2, '\n');
        text += run(length) + "\r\n";
    }
    while (text.size() < (3u << 20)) text += run(32) + "\r\n";
    const size_t middle = text.size() / 2;
    text.replace(middle - 20, 40, run(40));  // a run across the middle
    const uint8_t key = 0xD0;
    const std::string stored = scrambled(text, key);

    auto check = [&](const std::string& storedText, const std::string& plainText, size_t most) {
        names::HashIndex whole, pieces;
        whole.build(plainText);
        ASSERT_TRUE(pieces.buildFromStored(storedText.size(), key, readerOf(storedText, most)));
        EXPECT_EQ(pieces.windowCount(), whole.windowCount());
        EXPECT_EQ(pieces.longRunBytes(), whole.longRunBytes());
        for (size_t at = 0; at + 32 <= plainText.size(); at += 997) {
            const std::string query = plainText.substr(at, 32);
            if (query.find_first_not_of(kDigits) != std::string::npos) continue;
            ASSERT_EQ(pieces.contains(query), whole.contains(query)) << at;
        }
        for (size_t at = middle - 20; at + 32 <= std::min(middle + 20, plainText.size()); ++at)
            EXPECT_EQ(pieces.contains(plainText.substr(at, 32)),
                      whole.contains(plainText.substr(at, 32)));
    };
    check(stored, text, SIZE_MAX);
    check(stored, text, 1000);  // short reads
    // A stored zero in the second half, a stored key byte in the first.
    for (size_t end : {text.size() * 3 / 4, text.size() / 5}) {
        std::string cut = stored;
        cut[end] = end > middle ? '\0' : static_cast<char>(key);
        check(cut, text.substr(0, end), SIZE_MAX);
    }
    // A text shorter than its listed size ends where it ends.
    names::HashIndex shorter;
    ASSERT_TRUE(shorter.buildFromStored(stored.size() + 5000, key, readerOf(stored, SIZE_MAX)));
    names::HashIndex whole;
    whole.build(text);
    EXPECT_EQ(shorter.windowCount(), whole.windowCount());
}

// A read error anywhere, even behind the text's end, fails the whole index.
TEST(HashIndex, AStoredTextThatFailsToReadIsNoIndex) {
    std::string text;
    while (text.size() < (2u << 20)) text += kA + "\r\n";
    std::string stored = scrambled(text, 0xD0);
    stored[100] = '\0';  // the text ends here
    for (uint64_t failAt :
         {uint64_t{50}, uint64_t{stored.size() / 3}, uint64_t{stored.size() - 10}}) {
        names::HashIndex index;
        EXPECT_FALSE(
            index.buildFromStored(stored.size(), 0xD0, readerOf(stored, SIZE_MAX, failAt)));
        EXPECT_EQ(index.windowCount(), 0u);
        EXPECT_FALSE(index.contains(kA));
    }
}
