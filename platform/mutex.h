// Named single-instance mutex: an flock()ed lock file in the runtime folder
// (path.h). The lock is held for the life of the object and released by the
// system when the process dies, so a crashed instance never blocks the next.
#pragma once
#include <cstdint>
#include <string_view>

namespace platform {

class NamedMutex {
public:
    NamedMutex() = default;
    ~NamedMutex();
    NamedMutex(NamedMutex&& other) noexcept;
    NamedMutex& operator=(NamedMutex&& other) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // 0 when this process now owns the mutex; 183 (already exists) when
    // another process (or another object of this one) holds it; 87 for an
    // empty name; 5 when the runtime folder is unusable; another code when
    // the lock file cannot be made. Any name may be used: characters that
    // cannot stand in a file name are escaped.
    [[nodiscard]] static uint32_t acquire(std::u16string_view name, NamedMutex& out);
    bool isHeld() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};

}  // namespace platform
