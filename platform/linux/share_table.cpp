// Share modes within this process: every File registers its access and share
// mode here, keyed by device and inode, so that a second open or a delete
// that the first open does not share fails with 32 as on Windows.
#include <map>
#include <utility>
#include <mutex>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"

namespace platform {

namespace detail {

namespace {

struct OpenEntry {
    uint64_t id;
    uint32_t access;
    uint32_t share;
};

using FileOf = std::pair<uint64_t, uint64_t>;  // device, inode

// The opens of each file. A scan holds dozens of files open at once (the
// read-ahead), so an open looks only at the other opens of its own file.
struct ShareTable {
    std::mutex lock;
    std::multimap<FileOf, OpenEntry> entries;
    std::map<uint64_t, FileOf> fileOfId;
    uint64_t nextId = 1;
};

FileOf fileOf(const FileKey& key) { return {key.device, key.inode}; }

ShareTable& table() {
    static ShareTable instance;
    return instance;
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
    const FileOf file = fileOf(key);
    const auto [first, last] = t.entries.equal_range(file);
    for (auto it = first; it != last; ++it)
        if (conflicts(access, share, it->second)) return kErrorSharingViolation;
    id = t.nextId++;
    t.entries.emplace(file, OpenEntry{id, access, share});
    t.fileOfId.emplace(id, file);
    return kErrorSuccess;
}

void unregisterOpen(uint64_t id) {
    ShareTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const auto found = t.fileOfId.find(id);
    if (found == t.fileOfId.end()) return;
    const auto [first, last] = t.entries.equal_range(found->second);
    for (auto it = first; it != last; ++it) {
        if (it->second.id == id) {
            t.entries.erase(it);
            break;
        }
    }
    t.fileOfId.erase(found);
}

bool heldWithoutDeleteSharing(FileKey key) {
    ShareTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const auto [first, last] = t.entries.equal_range(fileOf(key));
    for (auto it = first; it != last; ++it)
        if (!(it->second.share & kShareDelete)) return true;
    return false;
}

}  // namespace detail

void resetShareTable() {
    detail::ShareTable& t = detail::table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.entries.clear();
    t.fileOfId.clear();
}

}  // namespace platform
