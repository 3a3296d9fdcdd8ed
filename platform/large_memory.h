// Large blocks (a hash database, its index) taken straight from the system
// and given straight back when freed, so that they never stay in the heap
// of a long-running program.
#pragma once
#include <cstddef>
#include <new>

namespace platform {

// Blocks of this size or more come from allocateLarge; smaller ones from the
// ordinary heap.
inline constexpr size_t kLargeBlockBytes = 1u << 20;

// Zero-filled memory of at least bytes bytes; nullptr when none is left.
void* allocateLarge(size_t bytes);
// Gives back a block of allocateLarge with the size it was asked for.
void freeLarge(void* block, size_t bytes);

// A standard allocator that puts large arrays into allocateLarge blocks.
template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) {}

    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kLargeBlockBytes) return static_cast<T*>(::operator new(bytes));
        void* block = allocateLarge(bytes);
        if (!block) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* p, size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kLargeBlockBytes)
            ::operator delete(p);
        else
            freeLarge(p, bytes);
    }
    template <class U>
    bool operator==(const LargeAllocator<U>&) const {
        return true;
    }
};

}  // namespace platform
