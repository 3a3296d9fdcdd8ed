// Runs a piece of work on the user-interface thread for a worker thread and
// lets the worker wait for it: the worker never touches a widget, and the
// user-interface thread never waits for the worker. cancel() (from the
// owner, before it joins its workers) releases every waiting worker and
// refuses later calls, so that no worker is left waiting for a window that
// is going away.
#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class UiCaller {
public:
    // post hands a function to the user-interface thread to run later
    // (the Qt binding queues it on the main dialog's thread).
    using Poster = std::function<void(std::function<void()>)>;

    explicit UiCaller(Poster post);
    ~UiCaller();
    UiCaller(const UiCaller&) = delete;
    UiCaller& operator=(const UiCaller&) = delete;

    // Runs work on the user-interface thread and waits until it has run.
    // False, without running it, after cancel(). Call it from a worker only.
    bool call(std::function<void()> work);

    void cancel();
    bool cancelled() const;

private:
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool cancelled = false;
    };
    Poster m_post;
    std::shared_ptr<Shared> m_shared;
};
