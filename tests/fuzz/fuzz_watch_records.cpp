// The change watcher's decoding of the kernel's inotify and fanotify
// records. First byte: 0 inotify, else fanotify.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/linux/dirwatch_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t* records = data + 1;
    const size_t length = size - 1;
    if (data[0] == 0) {
        std::vector<platform::detail::InotifyRecord> out;
        if (platform::detail::decodeInotifyRecords(records, length, out) > length) abort();
        for (const auto& record : out)
            if (record.name.size() > length) abort();
    } else {
        std::vector<platform::detail::FanotifyRecord> out;
        if (platform::detail::decodeFanotifyRecords(records, length, out) > length) abort();
        for (const auto& record : out)
            if (record.handle.size() > 128 || record.name.size() > length) abort();
    }
    return 0;
}
