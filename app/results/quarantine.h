// The quarantine: one record file per quarantined content in the folder
// "..\infected" (beside the program folder), named by the content's MD5 in
// lower case with ".ovm". A record is the 512-byte header (record_header.h)
// followed by the content unchanged; once written it is read-only, hidden and
// system. There is no index: the folder listing is the quarantine.
//
// Every file operation here may touch paths other users control (the file to
// quarantine, a restore target), so all of them go through the platform calls
// that never follow a planted link.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char16_t kQuarantineFolder[] = u"..\\infected";

// The 32 lower-case hex digits of the MD5 of bytes; empty when the digest
// cannot be computed.
std::u16string Md5HexString(const void* bytes, size_t length);

// The moments of a quarantine, in order; a hook called at each lets a test
// stop the process there.
enum class QuarantineStep {
    SourceRead,     // the content is in memory, nothing written yet
    PartWritten,    // header and content written under the temporary name
    PartFlushed,    // ... and flushed to disk
    FullPathKept,   // the full path kept beside the record (long paths only)
    RecordInPlace,  // renamed to its own name
    FolderFlushed,  // the rename is durable
    SourceDeleted,  // the source is gone
    AttributesSet,  // read-only, hidden and system
};
using QuarantineHook = std::function<void(QuarantineStep)>;

struct QuarantineOutcome {
    uint32_t code = 0;                // 0 when the content is in quarantine and the source gone
    std::u16string recordName;        // "<md5>.ovm"
    bool alreadyQuarantined = false;  // a record of the same content was there before
};

// Quarantines one file: reads it, writes the record under a temporary name,
// flushes it, renames it into place, flushes the folder, and only then
// deletes the source. When a record of the same content already exists it is
// kept and the source is deleted. Beside the record ("<md5>.ovp") the file's
// exact path (all of it, in the disk's case, which the 256 characters of the
// header may not hold) and its owner and mode are kept for the restore.
// Killed at any moment, either the source is still
// there or a complete record is.
QuarantineOutcome QuarantineFile(std::u16string_view folder, std::u16string_view path,
                                 std::u16string_view headerText, const QuarantineHook& hook = {});

// The record operation as the results list calls it: 1 when the record was
// written (or was there already) and the source deleted, else 0. Works in
// kQuarantineFolder.
int32_t OVGenerateQFile(const char16_t* path, const char16_t* headerText);

// Deletes a file as the user asked to: a read-only file goes too. Never
// through a planted link (5 then). 0 when it is gone.
uint32_t DeleteUserFile(std::u16string_view path);

// One record as the threat management list shows it.
struct QuarantineItem {
    std::u16string recordName;  // "<md5>.ovm"
    std::u16string item;        // "File Name: " value
    std::u16string date;        // record time, "%2d/%2d/%d %2d:%2d:%2d" UTC
    std::u16string type;        // "Malware Type: " value
    std::u16string location;    // "File Location: " value
    // The whole original path (from beside the record when the header cut
    // it); empty when it cannot be known.
    std::u16string originalPath;
};

// "%2d/%2d/%d %2d:%2d:%2d" of a moment in seconds since 1970, UTC.
std::u16string QuarantineDateText(int64_t unixSeconds);

// Every record that can be opened, in the folder's listing order.
std::vector<QuarantineItem> ListQuarantine(std::u16string_view folder);

// Removes one record (its attributes do not stop it) and what is kept beside
// it. 0 when it is gone.
uint32_t RemoveRecord(std::u16string_view folder, std::u16string_view recordName);

// Where and what a record restores.
struct RestoreOutcome {
    uint32_t code = 0;        // 0 restored and the record removed
    std::u16string target;    // the path written (or that could not be)
    std::u16string location;  // "File Location: " value
    std::u16string message;   // for the user when code is not 0
};

// Writes a record's content back to its original path, created anew without
// following a link (an existing file there is replaced) with the owner and
// mode it had, then removes the record. A record whose full path cannot be known is never restored
// to a guessed place: it stays. The registry value is not touched here.
RestoreOutcome RestoreRecord(std::u16string_view folder, std::u16string_view recordName);
