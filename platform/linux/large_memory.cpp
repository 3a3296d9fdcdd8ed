// Large blocks on Linux: anonymous mappings aligned to 2 MiB and marked for
// transparent huge pages (the usual "madvise" setting only gives them to
// mappings that ask).
#include "platform/large_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

namespace {

constexpr size_t kHugePage = 2u << 20;

size_t roundUp(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocateLarge(size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - 2 * kHugePage) return nullptr;
    const size_t size = roundUp(bytes);
    // One huge page more than needed, so that an aligned start can be cut out.
    const size_t mapped = size + kHugePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + mapped;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* block = reinterpret_cast<void*>(aligned);
    (void)madvise(block, size, MADV_HUGEPAGE);  // a hint; plain pages work too
    return block;
}

void freeLarge(void* block, size_t bytes) {
    if (block) munmap(block, roundUp(bytes));
}

}  // namespace platform
