#include "platform/stop_requests.h"

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
        // Woken every 100 ms to see whether the object is going away.
        const struct timespec pause { 0, 100 * 1000 * 1000 };
        while (!state->ending) {
            const int signal = sigtimedwait(&state->signals, nullptr, &pause);
            if (signal <= 0) continue;
            if (state->received.exchange(signal) != 0) ::_exit(128 + signal);
            if (state->onStop) state->onStop(signal);
        }
    });
}

StopRequests::~StopRequests() {
    m_state->ending = true;
    m_thread.join();
    pthread_sigmask(SIG_SETMASK, &m_state->previous, nullptr);
}

int StopRequests::received() const { return m_state->received; }

}  // namespace platform
