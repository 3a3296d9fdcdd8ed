// The Real Time Monitor's reading of the "data" record, which any program
// that can write the registry may have left in any shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/data_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const names::DataRecordView view = names::ParseDataRecord(data, size);
    if (view.lastChecked.size() > names::kDataRecordFieldUnits ||
        view.lastInfected.size() > names::kDataRecordFieldUnits) {
        abort();
    }
    // The text shown never carries the zero units that pad the record.
    if (view.lastChecked.find(u'\0') != std::u16string::npos ||
        view.lastInfected.find(u'\0') != std::u16string::npos) {
        abort();
    }
    return 0;
}
