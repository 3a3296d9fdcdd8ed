// The status record the service publishes in its named shared memory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ovsvc {

inline constexpr char16_t kMappingName[] = u"OVProMappingObject";
inline constexpr size_t kMappingSize = 0x4010000;
// What the start-up line states about the shared memory.
inline constexpr int kAnnouncedMappingBytes = 16793600;

// Little-endian, 8,200 bytes at offset 0 of the view.
struct SharedScanStatus {
    uint32_t filesClean;              // hashed and not in the hash list, since the start
    uint32_t filesInfected;           // found in the hash list, since the start
    char16_t reserved[2048];          // always zero
    char16_t lastInfectedPath[2048];  // zero-terminated, zero-padded
};
static_assert(sizeof(SharedScanStatus) == 8200, "the shared record's layout");
static_assert(offsetof(SharedScanStatus, lastInfectedPath) == 4104, "the shared record's layout");

}  // namespace ovsvc
