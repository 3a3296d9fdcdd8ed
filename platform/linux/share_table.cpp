// Share modes within this process: every File registers its access and share
// mode here, keyed by device and inode, so that a second open or a delete
// that the first open does not share fails with 32 as on Windows.
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/linux/fs_internal.h"

namespace platform {

namespace detail {

namespace {

using FileOf = std::pair<uint64_t, uint64_t>;  // device, inode

struct OpenEntry {
    FileOf file;
    uint64_t id;
    uint32_t access;
    uint32_t share;
};

// The opens of each file. A scan holds dozens of files open at once (the
// read-ahead), so an open looks only at the other opens of its own file,
// and the files are spread over shards with a lock each: the read-ahead's
// workers open files while the scan thread closes others, and one lock for
// all of them made the three wait on each other thousands of times a scan.
// A shard holds a handful of opens, in a list that stops allocating once
// it has grown: an open and a close allocate nothing.
struct Shard {
    std::mutex lock;
    std::vector<OpenEntry> entries;
};

constexpr unsigned kShardBits = 6;
constexpr uint64_t kShards = uint64_t{1} << kShardBits;

struct ShareTable {
    Shard shards[kShards];
    // An open's id carries its shard in its low bits; never 0.
    std::atomic<uint64_t> nextId{1};
};

FileOf fileOf(const FileKey& key) { return {key.device, key.inode}; }

ShareTable& table() {
    static ShareTable instance;
    return instance;
}

Shard& shardOf(const FileOf& file) {
    const uint64_t mixed = (file.second ^ (file.first * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
    return table().shards[mixed >> (64 - kShardBits)];
}

Shard& shardOfId(uint64_t id) { return table().shards[id & (kShards - 1)]; }

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
    const FileOf file = fileOf(key);
    Shard& shard = shardOf(file);
    const uint64_t shardIndex = static_cast<uint64_t>(&shard - table().shards);
    std::lock_guard<std::mutex> guard(shard.lock);
    for (const OpenEntry& other : shard.entries)
        if (other.file == file && conflicts(access, share, other)) return kErrorSharingViolation;
    id = (table().nextId.fetch_add(1) << kShardBits) | shardIndex;
    shard.entries.push_back(OpenEntry{file, id, access, share});
    return kErrorSuccess;
}

void unregisterOpen(uint64_t id) {
    Shard& shard = shardOfId(id);
    std::lock_guard<std::mutex> guard(shard.lock);
    std::vector<OpenEntry>& entries = shard.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].id == id) {
            entries[i] = entries.back();
            entries.pop_back();
            return;
        }
    }
}

bool heldWithoutDeleteSharing(FileKey key) {
    const FileOf file = fileOf(key);
    Shard& shard = shardOf(file);
    std::lock_guard<std::mutex> guard(shard.lock);
    for (const OpenEntry& other : shard.entries)
        if (other.file == file && !(other.share & kShareDelete)) return true;
    return false;
}

}  // namespace detail

void resetShareTable() {
    for (detail::Shard& shard : detail::table().shards) {
        std::lock_guard<std::mutex> guard(shard.lock);
        shard.entries.clear();
    }
}

}  // namespace platform
