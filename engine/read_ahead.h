// Read-ahead for a folder walk: worker threads open, read and hash the
// files the walk will hand to the file scanner next, while the scan thread
// reports the current one. The scan thread sends every message in the order
// it always did. Where it would open a planned path, it takes the worker's
// open file instead (the open succeeded a moment earlier, with the same
// access and sharing); it takes the worker's digest only while the file is,
// by its identity, the very version that was hashed. Anything else (a path
// not planned, a failed open, a changed file, a file no worker has started)
// is opened and read by the scan thread as before.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_internal.h"
#include "engine/md5.h"
#include "platform/fs.h"

// A file opened ahead and, when it could be hashed, its digest and the
// version of the file it belongs to.
struct ReadAheadResult {
    // Open for reading, shared for reading; the version hashed is the one it
    // had when it was opened (File::identityAtOpen).
    platform::File file;
    bool hashed = false;
    uint32_t bytes = 0;  // bytes hashed: the file's size, or less if it ended early
    Md5Result md5;
};

class ReadAhead {
public:
    struct Limits {
        // One worker takes every file; the others only files of at least
        // helperMinBytes. By default every worker takes every file: on two
        // cores the scan thread waits often enough that a second worker
        // finds a free core (bench/README.md: the mixed tree 15% faster,
        // the small-file tree no slower).
        size_t workers = 1;
        uint64_t helperMinBytes = 0;
        // Planned files not yet taken by the scan thread. A wide window, and
        // a worker woken for a long run, keep the workers asleep less often:
        // on this kind of virtual machine a wake-up of an idle processor
        // costs more than reading a small file (bench/README.md).
        size_t filesAhead = 128;
        size_t chunkBytes = 256 << 10;             // each worker's read buffer
        uint64_t maxFileBytes = 5u * 1024 * 1024;  // files this large are never read
        // A file changed less than this long before a worker opens it could
        // change again within the same tick of the system's file clock
        // without its change time moving: it is left to the scan thread.
        int64_t settledNs = 100'000'000;
    };

    explicit ReadAhead(Limits limits);
    ~ReadAhead();  // waits for the workers
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The walk's next files, in the order the file scanner will get them,
    // each as the path it will open, with its size as listed (0 unknown).
    // A file a walk listed is opened the way the file scanner opens it:
    // inside the folder it was listed in (listed.folder set).
    struct Planned {
        std::u16string path;
        uint64_t listedSize = 0;
        platform::EntryInFolder listed = {};
    };
    void plan(std::vector<Planned> files);

    // The file a worker opened at exactly this path, with its digest if it
    // has one; waits while a worker is still reading it. False when the path
    // was not planned, its open failed or no worker has started on it.
    // Files planned before path are given up: the walk has passed them.
    bool take(std::u16string_view path, ReadAheadResult& out);

    // Blocks until every planned file within reach has been read (or
    // failed); returns at once without workers.
    void waitForPlanned();

    // Files handed to the scan thread with a digest, since construction.
    uint64_t digestsHandedOver();

    // Whether the files planned and not yet taken fill what the workers may
    // reach: a walk need not plan further ahead for now.
    bool aheadIsFull();

    // Limits for this machine: one worker per core (up to four).
    static Limits DefaultLimits();

private:
    // A planned file moves from Waiting to Claimed (a worker put it in its
    // next run) to Reading and then Done or Failed. The scan thread takes a
    // file no worker has begun (Waiting or Claimed) back by making it
    // GivenUp, as it does with the files it passed; a worker that finds its
    // claim given up leaves the file alone.
    enum class State { Waiting, Claimed, Reading, Done, Failed, GivenUp };
    struct Item {
        std::u16string path;
        uint64_t listedSize = 0;
        platform::EntryInFolder listed = {};
        std::atomic<State> state{State::Waiting};
        ReadAheadResult result;  // the worker's until the state is final
    };
    using Run = std::vector<std::shared_ptr<Item>>;

    void work(bool helper);
    // Opens the file of run[index] (false when that fails) and hashes it if
    // it can; once the open shows it takes more than one read, the files
    // behind it in the run are given back first.
    bool readOne(Run& run, size_t index, std::vector<uint8_t>& buffer, Md5Hasher& hasher);
    // Gives the files of a run from index `from` on back to the other
    // workers (those still claimed become waiting again) and ends the run
    // there.
    void releaseRest(Run& run, size_t from);
    // The files a worker reads next, claimed under m_lock: the first waiting
    // ones within reach, up to kClaimRun of them or kClaimBytes as listed.
    Run claimRun(bool helper);
    // After a worker finished a file: wakes whoever waits for it.
    void finished();
    static bool isFinal(State state);
    static bool giveUp(Item& item);  // Waiting or Claimed to GivenUp
    bool workInReach() const;
    bool awaitedReady() const;
    void wakeWorkers(bool scanThreadWaits = false);  // with m_lock held

    // Files waiting for a worker before an idle worker is woken.
    static constexpr size_t kWakeRun = 32;
    // A worker claims files in runs, so that it takes the lock once for
    // several small files; a large file is claimed on its own.
    static constexpr size_t kClaimRun = 8;
    static constexpr uint64_t kClaimBytes = 64 << 10;

    const Limits m_limits;
    std::mutex m_lock;
    std::condition_variable m_mainWork;    // the first worker waits here
    std::condition_variable m_helperWork;  // the other workers wait here
    bool m_mainIdle = false;
    int m_idleHelpers = 0;
    std::condition_variable m_itemDone;  // the scan thread (or a test) waits here
    std::shared_ptr<Item> m_awaited;     // the file the scan thread waits for
    int m_planWaiters = 0;               // threads in waitForPlanned
    // Set while the scan thread or waitForPlanned waits: only then does a
    // worker take the lock when it has finished a file.
    std::atomic<int> m_waiters{0};
    uint64_t m_digestsHandedOver = 0;
    std::deque<std::shared_ptr<Item>> m_planned;  // in walk order
    // No planned file before this index is waiting: the looks for waiting
    // files (at every file taken) start there. A file becomes waiting again
    // only when a worker gives it back (releaseRest), which resets it.
    size_t m_noWaitingBefore = 0;
    std::atomic<bool> m_closing{false};
    std::vector<std::thread> m_workers;
};

// The read-ahead of the running folder walk, or null. The outermost walk
// makes one for its whole tree; nested walks (sub-folders, an archive's
// extracted files) use it.
ReadAhead* CurrentReadAhead();

class ReadAheadScope {
public:
    // Makes a read-ahead with the default limits unless one is current.
    ReadAheadScope();
    // Makes one with these limits, current until the scope ends (workers 0:
    // every file is opened and read by the scan thread).
    explicit ReadAheadScope(ReadAhead::Limits limits);
    ~ReadAheadScope();
    ReadAheadScope(const ReadAheadScope&) = delete;
    ReadAheadScope& operator=(const ReadAheadScope&) = delete;

private:
    std::unique_ptr<ReadAhead> m_owned;
    ReadAhead* m_previous = nullptr;
};
