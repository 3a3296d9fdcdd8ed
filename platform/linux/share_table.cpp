// Share modes within this process: every File registers its access and share
// mode here, keyed by device and inode, so that a second open or a delete
// that the first open does not share fails with 32 as on Windows.
#include <map>
#include <mutex>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"

namespace platform {

namespace detail {

namespace {

struct OpenEntry {
    FileKey key;
    uint32_t access;
    uint32_t share;
};

struct ShareTable {
    std::mutex lock;
    std::map<uint64_t, OpenEntry> entries;  // by open id
    uint64_t nextId = 1;
};

ShareTable& table() {
    static ShareTable instance;
    return instance;
}

bool sameFile(const FileKey& a, const FileKey& b) {
    return a.device == b.device && a.inode == b.inode;
}

// Each side must share what the other side uses.
bool conflicts(uint32_t access, uint32_t share, const OpenEntry& other) {
    auto uses = [](uint32_t a, uint32_t right) { return (a & right) != 0; };
    if (uses(access, kGenericRead) && !(other.share & kShareRead)) return true;
    if (uses(access, kGenericWrite) && !(other.share & kShareWrite)) return true;
    if (uses(other.access, kGenericRead) && !(share & kShareRead)) return true;
    if (uses(other.access, kGenericWrite) && !(share & kShareWrite)) return true;
    return false;
}

}  // namespace

uint32_t registerOpen(FileKey key, uint32_t access, uint32_t share, uint64_t& id) {
    // An open without data access (attributes only) takes no part in sharing.
    if (!(access & (kGenericRead | kGenericWrite))) share = kShareRead | kShareWrite | kShareDelete;
    ShareTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (const auto& [otherId, entry] : t.entries)
        if (sameFile(entry.key, key) && conflicts(access, share, entry))
            return kErrorSharingViolation;
    id = t.nextId++;
    t.entries[id] = OpenEntry{key, access, share};
    return kErrorSuccess;
}

void unregisterOpen(uint64_t id) {
    ShareTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.entries.erase(id);
}

bool heldWithoutDeleteSharing(FileKey key) {
    ShareTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (const auto& [id, entry] : t.entries)
        if (sameFile(entry.key, key) && !(entry.share & kShareDelete)) return true;
    return false;
}

}  // namespace detail

void resetShareTable() {
    detail::ShareTable& t = detail::table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.entries.clear();
}

}  // namespace platform
