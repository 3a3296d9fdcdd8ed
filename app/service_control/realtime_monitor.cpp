#include "app/service_control/realtime_monitor.h"

#include <vector>

#include "app/service_control/service_control.h"
#include "app/shell/app_log.h"
#include "common/data_record.h"
#include "common/registry_names.h"
#include "platform/registry.h"

namespace {

// The record is asked for with 2048 bytes into a cleared 5120-byte buffer.
constexpr uint32_t kQueryBytes = 2048;
constexpr size_t kBufferBytes = 5120;

}  // namespace

int32_t ReadRealTimeFigures(RealTimeFigures& out) {
    LogEntry(u"UpdateOVSharedMemDataEx");
    std::vector<uint8_t> buffer(kBufferBytes, 0);
    uint32_t size = 0;
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, key) == 0) {
        size = kQueryBytes;
        const uint32_t rc = key.queryValue(names::kValueData, nullptr, buffer.data(), &size);
        key.close();
        if (rc != 0) return 0;
    }
    const names::DataRecordView record = names::ParseDataRecord(buffer.data(), size);
    out.scannedFiles = record.checked;
    out.infectedFiles = record.infected;
    out.lastScannedFile = record.lastChecked;
    out.lastInfectedFile = record.lastInfected;
    return 1;
}

ServiceSwitch::~ServiceSwitch() { wait(); }

bool ServiceSwitch::request(bool disable, std::function<void(int32_t)> done) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_busy) return false;
    if (m_worker.joinable()) m_worker.join();
    m_busy = true;
    m_worker = std::thread([this, disable, done = std::move(done)] {
        const int32_t result = HandleServiceState(disable ? 0 : 1);
        m_busy = false;
        if (done) done(result);
    });
    return true;
}

void ServiceSwitch::wait() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_worker.joinable()) m_worker.join();
}
