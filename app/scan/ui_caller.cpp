#include "app/scan/ui_caller.h"

UiCaller::UiCaller(Poster post) : m_post(std::move(post)), m_shared(std::make_shared<Shared>()) {}

UiCaller::~UiCaller() { cancel(); }

bool UiCaller::call(std::function<void()> work) {
    std::shared_ptr<Shared> shared = m_shared;
    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->cancelled) return false;
    }
    // The posted function holds what it needs itself: it may run after the
    // waiting worker was released.
    m_post([shared, done, work = std::move(work)] {
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            if (shared->cancelled) return;
        }
        work();
        std::lock_guard<std::mutex> guard(shared->lock);
        *done = true;
        shared->changed.notify_all();
    });
    std::unique_lock<std::mutex> guard(shared->lock);
    shared->changed.wait(guard, [&] { return *done || shared->cancelled; });
    return *done;
}

void UiCaller::cancel() {
    std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->cancelled = true;
    m_shared->changed.notify_all();
}

bool UiCaller::cancelled() const {
    std::lock_guard<std::mutex> guard(m_shared->lock);
    return m_shared->cancelled;
}
