// The "data" record under HKLM\SOFTWARE\Orvane\Wardline\data: a REG_BINARY
// of exactly 2048 bytes holding the UTF-16LE text "%d|%d|%s|%s" (checked
// count, infected count, last file checked, last infected file),
// zero-padded; a text longer than 1024 units is cut there and then has no
// terminator.
#pragma once
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

// Adds one checked file (and, for verdict 1, one infected file) to the
// record. 0 after writing (also when the key cannot be opened for writing);
// 1 when the value is missing or larger than 2048 bytes; another code when
// it cannot be read.
uint32_t UpdateScanRecord(const std::u16string& path, uint32_t verdict);

}  // namespace ovsvc
