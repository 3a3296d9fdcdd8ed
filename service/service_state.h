// What the service keeps for its whole life: the working copy of the shared
// status record, the lock around the hash list's preparation, the named
// shared memory, the control status and the stop signal. One instance per
// process; a test resets it.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/scm.h"
#include "platform/shm.h"
#include "service/hash_list.h"
#include "service/scan_record.h"
#include "service/shared_status.h"

namespace ovsvc {

inline constexpr char16_t kServiceName[] = u"Orvane Service";

struct ServiceState {
    SharedScanStatus status{};
    std::mutex hashListLock;
    HashList hashList;
    platform::SharedMemory mapping;
    // The "data" record between its registry writes (service thread).
    HeldScanRecord scanRecord;

    // The status is changed by the service thread and by the control
    // handler on the dispatcher's thread.
    std::mutex statusLock;
    platform::ServiceStatusHandle statusHandle;
    platform::ServiceStatusProcess serviceStatus{};
    uint32_t checkPoint = 1;

    // Set by a stop or shutdown control: the watcher loop ends and every
    // wait of the service thread returns early.
    std::atomic<bool> stopRequested{false};
    std::mutex stopLock;
    std::condition_variable stopSignal;
};

ServiceState& serviceState();
// A fresh state (tests).
void resetServiceState();

void requestStop();
// Sleeps up to duration; false when a stop was requested meanwhile.
bool sleepUnlessStopped(std::chrono::milliseconds duration);

}  // namespace ovsvc
