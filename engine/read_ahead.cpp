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

void ReadAhead::plan(std::vector<Planned> files) {
    if (files.empty()) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (Planned& file : files) {
            // Files the scan thread never asked for (it stopped, or took
            // another path) are given up before the list grows past what a
            // worker may reach.
            while (m_planned.size() >= 2 * m_limits.filesAhead) m_planned.pop_front();
            auto item = std::make_shared<Item>();
            item->path = std::move(file.path);
            item->listedSize = file.listedSize;
            item->listed = std::move(file.listed);
            m_planned.push_back(std::move(item));
        }
        wakeWorkers();
    }
}

std::shared_ptr<ReadAhead::Item> ReadAhead::nextFor(bool helper) const {
    const size_t reach = std::min(m_planned.size(), m_limits.filesAhead);
    for (size_t i = 0; i < reach; ++i) {
        const std::shared_ptr<Item>& item = m_planned[i];
        if (item->state == State::Waiting &&
            (!helper || item->listedSize >= m_limits.helperMinBytes))
            return item;
    }
    return nullptr;
}

// Only a worker that has something to do is woken: a thread switch costs
// about as much as reading a small file.
void ReadAhead::wakeWorkers() {
    if (m_mainIdle && nextFor(false)) m_mainWork.notify_one();
    if (m_idleHelpers > 0 && nextFor(true)) m_helperWork.notify_all();
}

bool ReadAhead::take(std::u16string_view path, ReadAheadResult& out) {
    std::unique_lock<std::mutex> held(m_lock);
    auto it = std::find_if(m_planned.begin(), m_planned.end(),
                           [&](const auto& item) { return item->path == path; });
    if (it == m_planned.end()) return false;
    std::shared_ptr<Item> item = *it;
    m_planned.erase(m_planned.begin(), it + 1);
    // Not started: opening it here costs no more than waiting for a worker.
    if (item->state == State::Waiting) {
        wakeWorkers();  // a worker may look further ahead now
        return false;
    }
    m_awaited = item;
    // A file that is ready waits a moment for the run behind it, never for a
    // file that is slow to read: it would have been reported first.
    while (!m_itemDone.wait_for(held, kRunPatience, [&] { return awaitedReady(); })) {
        if (isFinal(*item)) break;
    }
    m_awaited.reset();
    const bool opened = item->state == State::Done;
    if (opened) {
        out = std::move(item->result);
        if (out.hashed) ++m_digestsHandedOver;
    }
    wakeWorkers();
    return opened;
}

bool ReadAhead::isFinal(const Item& item) {
    return item.state == State::Done || item.state == State::Failed;
}

bool ReadAhead::workInReach() const {
    const size_t reach = std::min(m_planned.size(), m_limits.filesAhead);
    for (size_t i = 0; i < reach; ++i)
        if (!isFinal(*m_planned[i])) return true;
    return false;
}

// The awaited file is ready, and so are the next few (or no more are on
// their way): the scan thread is woken once for a run of files rather than
// once for each, which on a small-file tree saves a thread switch per file.
bool ReadAhead::awaitedReady() const {
    if (!m_awaited || !isFinal(*m_awaited)) return false;
    const size_t run = std::min({m_planned.size(), m_limits.filesAhead, kWakeRun});
    for (size_t i = 0; i < run; ++i)
        if (!isFinal(*m_planned[i])) return !workInReach();
    return true;
}

void ReadAhead::waitForPlanned() {
    if (m_workers.empty()) return;
    std::unique_lock<std::mutex> held(m_lock);
    ++m_planWaiters;
    m_itemDone.wait(held, [&] { return !workInReach(); });
    --m_planWaiters;
}

uint64_t ReadAhead::digestsHandedOver() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_digestsHandedOver;
}

bool ReadAhead::closing() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_closing;
}

void ReadAhead::work(bool helper) {
    std::vector<uint8_t> buffer(m_limits.chunkBytes);
    Md5Hasher hasher;  // one context for all of this worker's files
    std::unique_lock<std::mutex> held(m_lock);
    for (;;) {
        std::shared_ptr<Item> next;
        std::condition_variable& wakeUp = helper ? m_helperWork : m_mainWork;
        while (!m_closing && !(next = nextFor(helper))) {
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
        next->state = State::Reading;
        held.unlock();
        const bool opened = readOne(*next, buffer, hasher);
        held.lock();
        next->state = opened ? State::Done : State::Failed;
        if (awaitedReady() || (m_planWaiters > 0 && !workInReach())) m_itemDone.notify_all();
    }
}

bool ReadAhead::readOne(Item& item, std::vector<uint8_t>& buffer, Md5Hasher& hasher) {
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

    if (!hasher.reset()) return true;
    uint64_t done = 0;
    // Read as the scan thread reads: up to the size the file had when it was
    // opened, or less when it ends early.
    while (done < before.size) {
        WaitWhilePaused();
        if (RunFlag() == 0 || closing()) return true;
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
