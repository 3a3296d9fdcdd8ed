#include "platform/linux/wal_watch.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace platform::regstore {

bool WalWatch::attach(const std::string& databasePath) {
    detach();
    const std::string index = databasePath + "-shm";
    int fd = ::open(index.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(kHeaderWords * 8)) {
        ::close(fd);
        return false;
    }
    const size_t bytes = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return false;
    m_map = static_cast<const volatile uint8_t*>(map);
    m_mapBytes = bytes;
    m_haveSnapshot = false;
    return true;
}

void WalWatch::detach() {
    if (m_map) ::munmap(const_cast<uint8_t*>(m_map), m_mapBytes);
    m_map = nullptr;
    m_mapBytes = 0;
    m_haveSnapshot = false;
}

void WalWatch::snapshot() {
    if (!m_map) return;
    const volatile uint64_t* words = reinterpret_cast<const volatile uint64_t*>(m_map);
    for (size_t i = 0; i < kHeaderWords; ++i) m_seen[i] = words[i];
    std::atomic_thread_fence(std::memory_order_acquire);
    m_haveSnapshot = true;
}

bool WalWatch::unchanged() const {
    if (!m_map || !m_haveSnapshot) return false;
    std::atomic_thread_fence(std::memory_order_acquire);
    const volatile uint64_t* words = reinterpret_cast<const volatile uint64_t*>(m_map);
    uint64_t differ = 0;
    for (size_t i = 0; i < kHeaderWords; ++i) differ |= words[i] ^ m_seen[i];
    return differ == 0;
}

}  // namespace platform::regstore
