// The Real Time Monitor's logic (dialog 143): the service's figures from the
// "data" record, and the switch that stops or starts the service on a worker
// thread so that the dialog keeps painting through the service's settling
// wait.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

inline constexpr int32_t kRealTimeTimerId = 31025;
inline constexpr int32_t kRealTimeTimerMilliseconds = 2000;

// What the dialog shows in 1049, 1051, 1048 and 1050.
struct RealTimeFigures {
    int32_t scannedFiles = 0;
    int32_t infectedFiles = 0;
    std::u16string lastScannedFile;
    std::u16string lastInfectedFile;
};

// Reads the record. 1 with the figures; 1 with zero counts and empty paths
// when the data key cannot be opened; 0 when the value cannot be read
// (missing, larger than 2048 bytes, another error), figures untouched.
int32_t ReadRealTimeFigures(RealTimeFigures& out);

// Runs HandleServiceState off the calling thread, one request at a time.
class ServiceSwitch {
public:
    ServiceSwitch() = default;
    ~ServiceSwitch();  // waits for a request under way
    ServiceSwitch(const ServiceSwitch&) = delete;
    ServiceSwitch& operator=(const ServiceSwitch&) = delete;

    // disable true stops the service (ServiceState 1), false starts it
    // (ServiceState 0). done gets HandleServiceState's result on the worker
    // thread. False when a request is still under way (nothing started).
    bool request(bool disable, std::function<void(int32_t)> done);
    bool busy() const { return m_busy; }
    // Blocks until the request under way (if any) has returned.
    void wait();

private:
    std::mutex m_lock;
    std::thread m_worker;
    std::atomic<bool> m_busy{false};
};
