// The plain hash list: "..\data\hmem.tmp", the hash database with its
// scrambling undone, written once per start by FlipFile and kept open for
// the life of the service.
//
// The check asks whether a hash text occurs in a line of the list, read in
// pieces of at most 511 bytes, each piece searched up to its first zero
// byte. The list answers that from an index built once from the same text
// (so a check costs the same at a thousand entries as at a million), giving
// the same verdict as searching every piece.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/hash_index.h"
#include "platform/fs.h"

namespace ovsvc {

inline constexpr char kHashDatabaseKeyString[] = "7d1e4a09c3b85f62e0a9d4173bc58e21";
inline constexpr size_t kHashListPieceBytes = 511;

// value = value * 63 + c over the key string, low 8 bits.
uint8_t hashListKeyByte();

// XORs the buffer with the key byte from the first byte up to the first zero
// byte or the end, whichever comes first; scrambles and unscrambles alike.
void ScrambleBuffer(uint8_t* buffer, size_t length);

class HashList {
public:
    bool present() const { return m_present; }
    // True when hashText (32 uppercase hex digits) occurs in a piece.
    bool contains(std::string_view hashText) const;
    // Opens the list over text (the file's content); file stays open.
    void open(std::string_view text, platform::File file);
    void close();

private:
    bool m_present = false;
    names::HashIndex m_index;
    platform::File m_file;
};

// The text the index is built from: every piece of every line, cut at its
// first zero byte, each ended by a line feed, so that no hash text spans
// two pieces.
std::string piecesForIndex(std::string_view text);

// Prepares "..\data\hmem.tmp" from "..\data\hashdb.dbf" and opens it as the
// service's hash list (absent when anything fails). Called under
// hashListLock.
void FlipFile();

}  // namespace ovsvc
