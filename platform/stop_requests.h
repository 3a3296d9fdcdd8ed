// Requests to end the program from outside (Ctrl+C, SIGTERM from a service
// manager or a kill): caught on a thread of their own, so that the program
// can wind down in order (stop the scan, end its children, remove their
// folders) instead of dying where it stands.
#pragma once
#include <functional>
#include <memory>
#include <thread>

namespace platform {

class StopRequests {
public:
    // From here on SIGINT and SIGTERM no longer end the process; the first
    // one calls onStop(signal number) on this object's thread. A second one
    // ends the process at once, with exit code 128 + signal. Construct it
    // before any other thread is started, so that every thread inherits
    // the blocked signals.
    explicit StopRequests(std::function<void(int)> onStop);
    ~StopRequests();  // the signals act as before again
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // The first signal received; 0 while none came.
    int received() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::thread m_thread;
};

}  // namespace platform
