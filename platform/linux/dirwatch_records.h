// The kernel's change records as plain values: inotify_event and
// fanotify_event_metadata with its file-handle information. The decoders
// read through bounds checks only and stop at the first record that does
// not fit, so a short or damaged buffer never leads past its end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::detail {

struct InotifyRecord {
    int32_t watch = -1;
    uint32_t mask = 0;
    uint32_t cookie = 0;
    std::string name;  // empty for an event on the watched folder itself
};

// Returns the number of bytes taken by whole records.
size_t decodeInotifyRecords(const uint8_t* data, size_t size, std::vector<InotifyRecord>& out);

struct FanotifyRecord {
    uint64_t mask = 0;
    int32_t fd = -1;
    int32_t pid = 0;
    bool hasFolder = false;
    int32_t fsid[2] = {0, 0};
    uint32_t handleType = 0;
    std::string handle;  // f_handle bytes
    std::string name;    // "." or empty when the event concerns the folder itself
};

size_t decodeFanotifyRecords(const uint8_t* data, size_t size, std::vector<FanotifyRecord>& out);

}  // namespace platform::detail
