// Large blocks on Linux: anonymous mappings of their own, in ordinary pages.
// They are not marked for transparent huge pages: on a virtual machine that
// hands free memory back to its host, a huge page is cleared from memory the
// host must find anew, and a scan with the large database started twice as
// slowly as with ordinary pages (bench/README.md).
#include "platform/large_memory.h"

#include <sys/mman.h>

namespace platform {

void* allocateLarge(size_t bytes) {
    if (bytes == 0) return nullptr;
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void freeLarge(void* block, size_t bytes) {
    if (block) munmap(block, bytes);
}

}  // namespace platform
