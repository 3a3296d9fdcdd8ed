// A stand-in for the real-time service: run by the service manager, it
// reports the state named by its first start argument ("running" when none:
// start-pending, paused, pause-pending, continue-pending) and stays in it
// until a stop control arrives.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/scm.h"

namespace {

std::atomic<bool> gStop{false};
platform::ServiceStatusHandle gHandle;

uint32_t stateNamed(const std::u16string& name) {
    if (name == u"start-pending") return platform::kServiceStartPending;
    if (name == u"paused") return platform::kServicePaused;
    if (name == u"pause-pending") return platform::kServicePausePending;
    if (name == u"continue-pending") return platform::kServiceContinuePending;
    return platform::kServiceRunning;
}

void report(uint32_t state) {
    platform::ServiceStatusProcess status;
    status.serviceType = platform::kServiceWin32ShareProcess;
    status.currentState = state;
    status.controlsAccepted = state == platform::kServiceStopped ? 0 : platform::kServiceAcceptStop;
    (void)gHandle.setStatus(status);
}

}  // namespace

int main() {
    const uint32_t rc = platform::runServiceDispatcher(
        u"Orvane Service", [](const std::vector<std::u16string>& args) {
            if (platform::ServiceStatusHandle::registerControlHandler(
                    u"Orvane Service",
                    [](uint32_t control, uint32_t) -> uint32_t {
                        if (control == platform::kServiceControlStop) {
                            gStop = true;
                            report(platform::kServiceStopped);
                        }
                        return 0;
                    },
                    gHandle) != 0) {
                return;
            }
            report(stateNamed(args.size() > 1 ? args[1] : std::u16string()));
            while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
    return rc == 0 ? 0 : 1;
}
