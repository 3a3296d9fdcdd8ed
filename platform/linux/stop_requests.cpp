#include "platform/stop_requests.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <ctime>

namespace platform {

struct StopRequests::State {
    std::function<void(int)> onStop;
    std::atomic<bool> ending{false};
    std::atomic<int> received{0};
    sigset_t signals;
    sigset_t previous;
};

StopRequests::StopRequests(std::function<void(int)> onStop) : m_state(std::make_unique<State>()) {
    m_state->onStop = std::move(onStop);
    sigemptyset(&m_state->signals);
    sigaddset(&m_state->signals, SIGINT);
    sigaddset(&m_state->signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &m_state->signals, &m_state->previous);
    State* state = m_state.get();
    m_thread = std::thread([state] {
        // The destructor wakes the wait with a signal of the set sent to this
        // thread alone; the time-out is only a fallback.
        const struct timespec pause { 1, 0 };
        while (!state->ending) {
            const int signal = sigtimedwait(&state->signals, nullptr, &pause);
            if (state->ending) break;
            if (signal <= 0) continue;
            if (state->received.exchange(signal) != 0) ::_exit(128 + signal);
            if (state->onStop) state->onStop(signal);
        }
    });
}

StopRequests::~StopRequests() {
    m_state->ending = true;
    // Without this the program's end would wait for the next time-out.
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
    pthread_sigmask(SIG_SETMASK, &m_state->previous, nullptr);
}

int StopRequests::received() const { return m_state->received; }

}  // namespace platform
