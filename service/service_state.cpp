#include "service/service_state.h"

#include <memory>

namespace ovsvc {

namespace {
std::unique_ptr<ServiceState> g_state = std::make_unique<ServiceState>();
}

ServiceState& serviceState() { return *g_state; }

void resetServiceState() { g_state = std::make_unique<ServiceState>(); }

void requestStop() {
    ServiceState& state = serviceState();
    {
        std::lock_guard<std::mutex> hold(state.stopLock);
        state.stopRequested = true;
    }
    state.stopSignal.notify_all();
}

bool sleepUnlessStopped(std::chrono::milliseconds duration) {
    ServiceState& state = serviceState();
    std::unique_lock<std::mutex> hold(state.stopLock);
    return !state.stopSignal.wait_for(hold, duration, [&] { return state.stopRequested.load(); });
}

}  // namespace ovsvc
