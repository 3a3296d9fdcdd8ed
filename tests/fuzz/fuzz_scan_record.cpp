// The service's reading of the "data" record, which any program that can
// write the registry may have left in any shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "service/scan_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ovsvc::ScanRecordFields fields = ovsvc::parseScanRecord(data, size);
    const std::string bytes = ovsvc::formatScanRecord(fields);
    if (bytes.size() != 2048) abort();
    // A record the service wrote reads back with the same counts.
    ovsvc::ScanRecordFields again =
        ovsvc::parseScanRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (again.checked != fields.checked || again.infected != fields.infected) abort();
    return 0;
}
