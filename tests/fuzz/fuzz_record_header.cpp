// A quarantine record's first bytes (anyone who can write the quarantine
// folder, or a damaged disk, decides them) to the three header values. Each
// value is at most 255 characters, holds no line feed, and a value read as
// complete was ended by a line feed inside the 512-byte header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/results/record_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RecordHeader header = ParseRecordHeader(bytes);
    for (const RecordHeaderValue* value :
         {&header.fileName, &header.location, &header.malwareType}) {
        if (value->value.size() > kRecordValueUnits) abort();
        if (value->value.find(u'\n') != std::u16string::npos) abort();
        if (value->value.find(u'\0') != std::u16string::npos) abort();
    }
    // Reading a value alone gives what the whole parse gave.
    if (ReadRecordHeaderValue(bytes, kRecordFileNameLabel).value != header.fileName.value) abort();
    return 0;
}
