#include "engine/read_ahead.h"

#include <algorithm>
#include <chrono>

#include "engine/md5.h"

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ReadAhead* g_current = nullptr;

}  // namespace

ReadAhead::ReadAhead(Limits limits) : m_limits(limits) {
    for (size_t i = 0; i < m_limits.workers; ++i)
        m_workers.emplace_back([this, i] { work(i > 0); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closing = true;
    }
    m_mainWork.notify_all();
    m_helperWork.notify_all();
    for (std::thread& worker : m_workers) worker.join();
}

ReadAhead::Limits ReadAhead::DefaultLimits() {
    Limits limits;
    limits.workers = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    return limits;
}

bool ReadAhead::isFinal(State state) { return state == State::Done || state == State::Failed; }

bool ReadAhead::giveUp(Item& item) {
    State state = item.state.load();
    while (state == State::Waiting || state == State::Claimed) {
        if (item.state.compare_exchange_weak(state, State::GivenUp)) return true;
    }
    return false;
}

void ReadAhead::plan(std::vector<Planned> files) {
    if (files.empty()) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (Planned& file : files) {
            // Files the scan thread never asked for (it stopped, or took
            // another path) are given up before the list grows past what a
            // worker may reach.
            while (m_planned.size() >= 2 * m_limits.filesAhead) {
                giveUp(*m_planned.front());
                m_planned.pop_front();
                if (m_noWaitingBefore > 0) --m_noWaitingBefore;
            }
            auto item = std::make_shared<Item>();
            item->path = std::move(file.path);
            item->listedSize = file.listedSize;
            item->listed = std::move(file.listed);
            m_planned.push_back(std::move(item));
        }
        wakeWorkers();
    }
}

ReadAhead::Run ReadAhead::claimRun(bool helper) {
    Run run;
    run.reserve(kClaimRun);
    uint64_t bytes = 0;
    const size_t reach = std::min(m_planned.size(), m_limits.filesAhead);
    for (size_t i = m_noWaitingBefore; i < reach && run.size() < kClaimRun && bytes < kClaimBytes;
         ++i) {
        const std::shared_ptr<Item>& item = m_planned[i];
        if (item->state.load() != State::Waiting) {
            if (i == m_noWaitingBefore) ++m_noWaitingBefore;
            continue;
        }
        if (helper && item->listedSize < m_limits.helperMinBytes) continue;
        // A large file goes into a run of its own: the files behind it
        // should not wait for its read.
        if (!run.empty() && bytes + item->listedSize > kClaimBytes) break;
        item->state = State::Claimed;
        if (i == m_noWaitingBefore) ++m_noWaitingBefore;
        bytes += item->listedSize;
        run.push_back(item);
    }
    return run;
}

// Only a worker that has something to do is woken. The first one is woken
// for a run of files: a thread switch costs about as much as reading a
// small file, and a worker that is ahead of the scan thread would otherwise
// be woken for every file the scan thread takes. It is woken for less when
// the scan thread is about to reach a file no worker has begun (a small
// folder, the end of a big one) or is about to wait. The others are woken
// for any file they may take.
void ReadAhead::wakeWorkers(bool scanThreadWaits) {
    // Each look ends as soon as what it decides is known: it is made at
    // every file the scan thread takes, over up to filesAhead files.
    bool wakeMain = false;
    bool wakeHelpers = false;
    bool mainDecided = !m_mainIdle;
    bool helpersDecided = m_idleHelpers == 0;
    const size_t reach = std::min(m_planned.size(), m_limits.filesAhead);
    size_t waiting = 0;
    for (size_t i = m_noWaitingBefore; i < reach && !(mainDecided && helpersDecided); ++i) {
        const Item& item = *m_planned[i];
        if (item.state.load() != State::Waiting) {
            if (i == m_noWaitingBefore) ++m_noWaitingBefore;
            continue;
        }
        ++waiting;
        if (!mainDecided && (scanThreadWaits || waiting >= kWakeRun || i < kWakeRun))
            wakeMain = mainDecided = true;
        if (!helpersDecided && item.listedSize >= m_limits.helperMinBytes)
            wakeHelpers = helpersDecided = true;
    }
    if (wakeMain) m_mainWork.notify_one();
    if (wakeHelpers) m_helperWork.notify_all();
}

bool ReadAhead::take(std::u16string_view path, ReadAheadResult& out) {
    std::unique_lock<std::mutex> held(m_lock);
    auto it = std::find_if(m_planned.begin(), m_planned.end(),
                           [&](const auto& item) { return item->path == path; });
    if (it == m_planned.end()) return false;
    std::shared_ptr<Item> item = *it;
    for (auto passed = m_planned.begin(); passed != it; ++passed) giveUp(**passed);
    const size_t gone = static_cast<size_t>(it - m_planned.begin()) + 1;
    m_planned.erase(m_planned.begin(), it + 1);
    m_noWaitingBefore = m_noWaitingBefore > gone ? m_noWaitingBefore - gone : 0;
    // Not begun: opening it here costs no more than waiting for a worker.
    if (giveUp(*item)) {
        wakeWorkers();  // a worker may look further ahead now
        return false;
    }
    if (!isFinal(item->state.load())) {
        m_awaited = item;
        ++m_waiters;
        wakeWorkers(true);
        m_itemDone.wait(held, [&] { return awaitedReady(); });
        --m_waiters;
        m_awaited.reset();
    }
    const bool opened = item->state.load() == State::Done;
    if (opened) {
        out = std::move(item->result);
        if (out.hashed) ++m_digestsHandedOver;
    }
    wakeWorkers();
    return opened;
}

bool ReadAhead::workInReach() const {
    const size_t reach = std::min(m_planned.size(), m_limits.filesAhead);
    for (size_t i = 0; i < reach; ++i)
        if (!isFinal(m_planned[i]->state.load())) return true;
    return false;
}

// The scan thread is woken as soon as its file is ready. Waiting for the
// run behind it as well saved a few thread switches on a small-file tree but
// left the scan thread, the one that sets the pace, idle at the start of
// every folder.
bool ReadAhead::awaitedReady() const { return m_awaited && isFinal(m_awaited->state.load()); }

void ReadAhead::waitForPlanned() {
    if (m_workers.empty()) return;
    std::unique_lock<std::mutex> held(m_lock);
    ++m_planWaiters;
    ++m_waiters;
    wakeWorkers(true);
    m_itemDone.wait(held, [&] { return !workInReach(); });
    --m_waiters;
    --m_planWaiters;
}

bool ReadAhead::aheadIsFull() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_planned.size() >= m_limits.filesAhead;
}

uint64_t ReadAhead::digestsHandedOver() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_digestsHandedOver;
}

// A worker publishes a finished file without the lock; only a thread that
// waits makes it take the lock. The waiter counts itself (under the lock)
// before it looks at the files, the worker publishes before it looks at the
// count, so one of the two always sees the other.
void ReadAhead::finished() {
    if (m_waiters.load() == 0) return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (awaitedReady() || (m_planWaiters > 0 && !workInReach())) m_itemDone.notify_all();
}

void ReadAhead::work(bool helper) {
    std::vector<uint8_t> buffer(m_limits.chunkBytes);
    Md5Hasher hasher;  // one context for all of this worker's files
    std::condition_variable& wakeUp = helper ? m_helperWork : m_mainWork;
    for (;;) {
        Run run;
        {
            std::unique_lock<std::mutex> held(m_lock);
            while (!m_closing && (run = claimRun(helper)).empty()) {
                if (helper)
                    ++m_idleHelpers;
                else
                    m_mainIdle = true;
                wakeUp.wait(held);
                if (helper)
                    --m_idleHelpers;
                else
                    m_mainIdle = false;
            }
            if (m_closing) return;
        }
        for (size_t i = 0; i < run.size(); ++i) {
            Item& item = *run[i];
            State claimed = State::Claimed;
            // Taken back by the scan thread, or passed by the walk.
            if (!item.state.compare_exchange_strong(claimed, State::Reading)) continue;
            // A walk lists no sizes, so a run may hold a large file: the
            // files behind it should not wait for its read.
            const bool opened = readOne(run, i, buffer, hasher);
            item.state = opened ? State::Done : State::Failed;
            finished();
        }
    }
}

void ReadAhead::releaseRest(Run& run, size_t from) {
    if (from >= run.size()) return;
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i = from; i < run.size(); ++i) {
        State claimed = State::Claimed;
        run[i]->state.compare_exchange_strong(claimed, State::Waiting);
    }
    m_noWaitingBefore = 0;  // those files may be anywhere in the plan
    run.resize(from);
    wakeWorkers();
}

bool ReadAhead::readOne(Run& run, size_t index, std::vector<uint8_t>& buffer,
                        Md5Hasher& hasher) {
    Item& item = *run[index];
    // While the scan is paused no file is opened or read, here as there.
    WaitWhilePaused();
    if (RunFlag() == 0) return false;
    ReadAheadResult& result = item.result;
    platform::File& file = result.file;
    // The scan thread's own open: read access, read sharing, an existing
    // file, inside its folder for a listed one.
    const uint32_t error =
        item.listed.folder
            ? platform::File::openInFolder(item.listed, platform::kShareRead, file)
            : platform::File::open(item.path, platform::kGenericRead, platform::kShareRead,
                                   platform::Disposition::OpenExisting, file);
    if (error != 0) return false;
    const platform::FileIdentity& before = file.identityAtOpen();
    // Large files are not read at all; a file changed within the last
    // moments could change again unseen (see settledNs).
    if (before.size >= m_limits.maxFileBytes) return true;
    if (before.changedNs > NowNs() - m_limits.settledNs) return true;
    if (before.size > buffer.size()) releaseRest(run, index + 1);

    if (!hasher.reset()) return true;
    uint64_t done = 0;
    // Read as the scan thread reads: up to the size the file had when it was
    // opened, or less when it ends early.
    while (done < before.size) {
        WaitWhilePaused();
        if (RunFlag() == 0 || m_closing) return true;
        const uint32_t want =
            static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), before.size - done));
        uint32_t got = 0;
        // A read error is the scan thread's to meet and report.
        if (file.read(buffer.data(), want, got) != 0) return true;
        if (got == 0) break;
        if (!hasher.update(buffer.data(), got)) return true;
        done += got;
    }
    // No second look at the file here: the scan thread compares its own
    // identity of the file, taken after this read, with the one before it.
    if (!hasher.finish(result.md5.digest)) return true;
    result.md5.step = Md5Result::Step::Done;
    result.md5.listed = DatabaseListsDigest(result.md5.digest);
    result.bytes = static_cast<uint32_t>(done);
    result.hashed = true;
    return true;
}

ReadAhead* CurrentReadAhead() { return g_current; }

ReadAheadScope::ReadAheadScope() {
    if (g_current) return;
    m_owned = std::make_unique<ReadAhead>(ReadAhead::DefaultLimits());
    g_current = m_owned.get();
}

ReadAheadScope::ReadAheadScope(ReadAhead::Limits limits) : m_previous(g_current) {
    m_owned = std::make_unique<ReadAhead>(limits);
    g_current = m_owned.get();
}

ReadAheadScope::~ReadAheadScope() {
    if (!m_owned) return;
    g_current = m_previous;
    m_owned.reset();
}
