// The real-time monitor's reading of the "data" record (the service writes
// it, see names::kDataRecordBytes): a UTF-16LE text "%d|%d|%s|%s" of at
// most 2048 bytes as the registry query returned it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace names {

struct DataRecordView {
    int32_t checked = 0;
    int32_t infected = 0;
    std::u16string lastChecked;
    std::u16string lastInfected;
};

// Each field is cut at 1024 units.
inline constexpr size_t kDataRecordFieldUnits = 1024;

// Splits the bytes into at most four fields: the first three end at the
// next "|" or at the end of the data, the fourth at "|", a zero unit or the
// end. The numbers are the leading decimal digits of their fields (blanks
// and a sign before them allowed; no digits read as 0; beyond the 32-bit
// range, its nearest end). An odd last byte is not part of the text.
DataRecordView ParseDataRecord(const uint8_t* data, size_t size);

}  // namespace names
