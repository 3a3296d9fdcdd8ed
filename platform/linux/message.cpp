// Window messages on Linux: a process-wide handle table and synchronous
// delivery. A thread-safe receiver runs on the sender's thread under the
// window's own (re-entrant) lock, so calls to one window never overlap and
// keep their order. An owner-thread receiver runs on the thread that created
// the window: the sender queues the message and waits until that thread has
// handled it in pumpWindowMessages. While a sender waits it also handles the
// messages sent to its own windows, as a Windows thread does inside
// SendMessage, so two threads sending to each other's windows never deadlock.
#include "platform/message.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/error.h"

namespace platform {

namespace {

struct Window {
    WindowHandle handle = 0;
    MessageReceiver receiver;
    MessageInterest interest;  // set before the window is shared; empty: every message
    ReceiverThreading threading = ReceiverThreading::ThreadSafe;
    std::thread::id owner;
    std::recursive_mutex callLock;  // serialises calls of a thread-safe receiver
    // Set under the table lock; also read without it by a sender that holds
    // callLock, which destroyWindow takes after setting it.
    std::atomic<bool> destroyed{false};
};

// A message waiting for its window's owner thread.
struct Pending {
    std::shared_ptr<Window> window;
    uint32_t code = 0;
    const char16_t* text = nullptr;
    intptr_t result = 0;
    bool done = false;
    bool failed = false;
};

struct Table {
    std::mutex lock;
    std::condition_variable changed;  // a message was queued or handled
    std::map<WindowHandle, std::shared_ptr<Window>> windows;
    std::map<std::thread::id, std::deque<Pending*>> queues;  // by owner thread
    WindowHandle next = 1;
    // Moves whenever a window is made or removed (under the lock), so that a
    // thread may keep the window it last found without asking the table.
    std::atomic<uint64_t> generation{0};
};

Table& table() {
    static Table* t = new Table;  // never destroyed: windows may outlive static destructors
    return *t;
}

std::shared_ptr<Window> find(Table& t, WindowHandle handle) {
    auto it = t.windows.find(handle);
    if (it == t.windows.end() || it->second->destroyed) return nullptr;
    return it->second;
}

// The window of a handle as the calling thread last found it, while no
// window was made or removed since; otherwise from the table. Senders ask
// for the same window thousands of times a second.
std::shared_ptr<Window> lookup(Table& t, WindowHandle handle) {
    thread_local struct {
        uint64_t generation = ~uint64_t{0};
        WindowHandle handle = 0;
        std::shared_ptr<Window> window;
    } last;
    const uint64_t generation = t.generation.load(std::memory_order_acquire);
    if (last.generation == generation && last.handle == handle) return last.window;
    std::shared_ptr<Window> window;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        window = find(t, handle);
    }
    // Found after the generation was read: a change in between only makes
    // the next call look again.
    last.generation = generation;
    last.handle = handle;
    last.window = window;
    return window;
}

// Runs the receiver of one queued message; called with the table lock held,
// releases it during the call.
void handlePending(Table& t, std::unique_lock<std::mutex>& held, Pending* p) {
    if (p->window->destroyed) {
        p->failed = true;
    } else {
        std::shared_ptr<Window> window = p->window;
        held.unlock();
        intptr_t result = window->receiver(p->code, p->text);
        held.lock();
        p->result = result;
    }
    p->done = true;
    t.changed.notify_all();
}

// Takes the next message queued for the calling thread's windows, if any.
Pending* takeOwn(Table& t) {
    auto it = t.queues.find(std::this_thread::get_id());
    if (it == t.queues.end() || it->second.empty()) return nullptr;
    Pending* p = it->second.front();
    it->second.pop_front();
    return p;
}

}  // namespace

WindowHandle createWindow(MessageReceiver receiver, ReceiverThreading threading) {
    Table& t = table();
    auto window = std::make_shared<Window>();
    window->receiver = std::move(receiver);
    window->threading = threading;
    window->owner = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(t.lock);
    while (t.next == 0 || t.windows.count(t.next)) ++t.next;
    window->handle = t.next++;
    t.windows[window->handle] = window;
    t.generation.fetch_add(1, std::memory_order_release);
    return window->handle;
}

void destroyWindow(WindowHandle handle) {
    Table& t = table();
    std::shared_ptr<Window> window;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        auto it = t.windows.find(handle);
        if (it == t.windows.end()) return;
        window = it->second;
        window->destroyed = true;
        t.windows.erase(it);
        t.generation.fetch_add(1, std::memory_order_release);
        // Messages still queued for the window fail; their senders wake up.
        for (auto& [thread, queue] : t.queues) {
            for (auto q = queue.begin(); q != queue.end();) {
                if ((*q)->window == window) {
                    (*q)->failed = true;
                    (*q)->done = true;
                    q = queue.erase(q);
                } else {
                    ++q;
                }
            }
        }
        t.changed.notify_all();
    }
    // A thread-safe call in progress on another thread finishes first.
    if (window->threading == ReceiverThreading::ThreadSafe) {
        std::lock_guard<std::recursive_mutex> wait(window->callLock);
    }
}

bool isWindow(WindowHandle handle) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    return find(t, handle) != nullptr;
}

void setMessageInterest(WindowHandle handle, MessageInterest interest) {
    Table& t = table();
    std::shared_ptr<Window> window;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        window = find(t, handle);
    }
    if (!window) return;
    std::lock_guard<std::recursive_mutex> call(window->callLock);
    window->interest = std::move(interest);
}

bool windowWantsMessage(WindowHandle handle, uint32_t code) {
    std::shared_ptr<Window> window = lookup(table(), handle);
    if (!window) return false;
    std::lock_guard<std::recursive_mutex> call(window->callLock);
    if (window->destroyed.load()) return false;
    return !window->interest || window->interest(code);
}

intptr_t sendMessage(WindowHandle handle, uint32_t code, const char16_t* text) {
    Table& t = table();
    std::shared_ptr<Window> window = lookup(t, handle);
    if (!window) {
        setLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    const bool direct = window->threading == ReceiverThreading::ThreadSafe ||
                        window->owner == std::this_thread::get_id();
    if (direct) {
        std::lock_guard<std::recursive_mutex> call(window->callLock);
        // Destroyed while this send waited for the window's earlier call.
        if (window->destroyed.load()) {
            setLastError(kErrorInvalidWindowHandle);
            return 0;
        }
        return window->receiver(code, text);
    }

    std::unique_lock<std::mutex> held(t.lock);
    if (window->destroyed) {
        held.unlock();
        setLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    Pending pending;
    pending.window = window;
    pending.code = code;
    pending.text = text;
    t.queues[window->owner].push_back(&pending);
    t.changed.notify_all();
    while (!pending.done) {
        if (Pending* own = takeOwn(t)) {
            handlePending(t, held, own);
            continue;
        }
        t.changed.wait(held);
    }
    if (pending.failed) {
        held.unlock();
        setLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    return pending.result;
}

void sendMessages(WindowHandle handle, const WindowMessage* messages, size_t count) {
    if (count == 0) return;
    std::shared_ptr<Window> window = lookup(table(), handle);
    if (!window) {
        setLastError(kErrorInvalidWindowHandle);
        return;
    }
    const bool direct = window->threading == ReceiverThreading::ThreadSafe ||
                        window->owner == std::this_thread::get_id();
    if (!direct) {
        // Queued for the owner thread one by one, as sendMessage queues them.
        for (size_t i = 0; i < count; ++i) {
            setLastError(kErrorSuccess);
            if (sendMessage(handle, messages[i].code, messages[i].text) == 0 &&
                lastError() == kErrorInvalidWindowHandle)
                return;
        }
        return;
    }
    std::lock_guard<std::recursive_mutex> call(window->callLock);
    for (size_t i = 0; i < count; ++i) {
        // Destroyed while this send waited for the lock, or by its own receiver.
        if (window->destroyed.load()) {
            setLastError(kErrorInvalidWindowHandle);
            return;
        }
        window->receiver(messages[i].code, messages[i].text);
    }
}

int pumpWindowMessages(int timeoutMs) {
    Table& t = table();
    std::unique_lock<std::mutex> held(t.lock);
    int handled = 0;
    if (timeoutMs > 0) {
        t.changed.wait_for(held, std::chrono::milliseconds(timeoutMs), [&] {
            auto it = t.queues.find(std::this_thread::get_id());
            return it != t.queues.end() && !it->second.empty();
        });
    }
    while (Pending* p = takeOwn(t)) {
        handlePending(t, held, p);
        ++handled;
    }
    return handled;
}

}  // namespace platform
