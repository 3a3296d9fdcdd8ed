// The "data" record under HKLM\SOFTWARE\Orvane\Wardline\data: a REG_BINARY
// of exactly 2048 bytes holding the UTF-16LE text "%d|%d|%s|%s" (checked
// count, infected count, last file checked, last infected file),
// zero-padded; a text longer than 1024 units is cut there and then has no
// terminator.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ovsvc {

struct ScanRecordFields {
    int32_t checked = 0;
    int32_t infected = 0;
    std::u16string lastChecked;
    std::u16string lastInfected;
};

// Splits the text of a record as read (size in bytes as the registry gave
// it): field 1 to the first "|", fields 2 and 3 each to the next, field 4 to
// the next "|" or zero unit, never past the size. Numbers are read as
// decimal leading digits with an optional sign (empty or no digits: 0;
// beyond the 32-bit range: its nearest end).
ScanRecordFields parseScanRecord(const uint8_t* data, size_t size);

// The 2048 bytes written for the fields.
std::string formatScanRecord(const ScanRecordFields& fields);

// A burst of checks would otherwise rewrite the registry value, one
// transaction each, for every file. The registry value is written at most
// every kScanRecordWriteInterval: a check that comes sooner after the last
// write keeps the record here, and the record held is written when the
// interval is over (FlushScanRecordIfDue, from the watcher loop), at once
// for an infected file, before a check waits on a locked file, and when
// the service stops (FlushScanRecord). The monitor, which reads the value
// every two seconds, thus sees every count at most that much later; the
// shared status record is still published per file.
inline constexpr std::chrono::milliseconds kScanRecordWriteInterval{100};

// What the service thread keeps between registry writes (in ServiceState).
struct HeldScanRecord {
    bool held = false;  // fields is newer than the registry value
    ScanRecordFields fields;
    std::chrono::steady_clock::time_point lastWrite{};
};

// Adds one checked file (and, for verdict 1, one infected file) to the
// record: to the one held when there is one, else to the registry value
// read anew. 0 after writing or holding (also when the key cannot be opened
// for writing); 1 when the value is missing or larger than 2048 bytes;
// another code when it cannot be read.
uint32_t UpdateScanRecord(const std::u16string& path, uint32_t verdict);

// Writes the record held, if any.
void FlushScanRecord();
// Writes the record held once kScanRecordWriteInterval has passed since
// the last write.
void FlushScanRecordIfDue();
// How long until the record held is due; max() when none is held.
std::chrono::milliseconds ScanRecordDueIn();

}  // namespace ovsvc
