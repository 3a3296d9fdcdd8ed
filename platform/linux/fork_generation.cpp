#include "platform/linux/fork_generation.h"

#include <pthread.h>

#include <atomic>

namespace platform::detail {

namespace {

std::atomic<uint64_t> g_forks{0};

void countFork() { g_forks.fetch_add(1); }

const bool g_forkHandler = [] {
    pthread_atfork(nullptr, nullptr, countFork);
    return true;
}();

}  // namespace

uint64_t forkGeneration() {
    (void)g_forkHandler;
    return g_forks.load(std::memory_order_relaxed);
}

}  // namespace platform::detail
