// Named shared memory, as file mappings backed by the paging file: POSIX
// shared memory objects. The object's name is the mapping's name prefixed
// with a tag of the runtime folder (path.h), so installations with their own
// runtime folders (and tests) never meet. The creator of an object removes
// its name when it closes it; a process that only opened it leaves it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // CreateFileMapping + MapViewOfFile of the whole size, read and write:
    // creates the object (zero-filled) or opens the existing one (last error
    // 183 then, as on Windows; it is grown to size when smaller). 87 for an
    // empty name or size 0; 5 when the object cannot be made.
    [[nodiscard]] static uint32_t create(std::u16string_view name, size_t size, SharedMemory& out);

    // OpenFileMapping: 2 when no object of that name exists. Maps the whole
    // object, read-only unless writable.
    [[nodiscard]] static uint32_t open(std::u16string_view name, bool writable, SharedMemory& out);

    void* view() const { return m_view; }
    size_t size() const { return m_size; }
    bool isOpen() const { return m_view != nullptr; }
    bool createdHere() const { return m_created; }
    void close();

    // The host object name ("/orvane.<tag>.<name>") a mapping name becomes.
    static std::string objectName(std::u16string_view name);

private:
    void* m_view = nullptr;
    size_t m_size = 0;
    bool m_created = false;
    std::string m_objectName;
};

}  // namespace platform
