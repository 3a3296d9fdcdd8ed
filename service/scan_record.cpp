#include "service/scan_record.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "common/registry_names.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/service_log.h"
#include "service/service_state.h"

namespace ovsvc {

namespace {

constexpr uint32_t kQuerySize = 2048;
constexpr size_t kReadBufferBytes = 5120;
constexpr size_t kRecordUnits = names::kDataRecordBytes / 2;

int32_t readNumber(std::u16string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == u' ' || text[at] == u'\t')) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) negative = text[at++] == u'-';
    int64_t value = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
        value = value * 10 + (text[at] - u'0');
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1) break;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

int32_t plusOne(int32_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value) + 1u); }

using Clock = std::chrono::steady_clock;

void writeRecord(HeldScanRecord& record, const ScanRecordFields& fields) {
    const std::string bytes = formatScanRecord(fields);
    platform::RegKey writable;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, writable) == 0) {
        (void)writable.setValue(names::kValueData, platform::kRegBinary, bytes.data(),
                                static_cast<uint32_t>(bytes.size()));
    }
    record.held = false;
    record.lastWrite = Clock::now();
}

}  // namespace

ScanRecordFields parseScanRecord(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
    size_t end = text.find(u'\0');
    if (end != std::u16string::npos) text.resize(end);
    std::u16string_view rest = text;
    auto take = [&rest]() {
        size_t bar = rest.find(u'|');
        std::u16string_view field = rest.substr(0, bar);
        rest = bar == std::u16string_view::npos ? std::u16string_view() : rest.substr(bar + 1);
        return field;
    };
    ScanRecordFields fields;
    fields.checked = readNumber(take());
    fields.infected = readNumber(take());
    fields.lastChecked = std::u16string(take());
    fields.lastInfected = std::u16string(take());
    return fields;
}

std::string formatScanRecord(const ScanRecordFields& fields) {
    std::u16string text = platform::ascii16(std::to_string(fields.checked)) + u"|" +
                          platform::ascii16(std::to_string(fields.infected)) + u"|" +
                          fields.lastChecked + u"|" + fields.lastInfected;
    if (text.size() > kRecordUnits) text.resize(kRecordUnits);
    std::string bytes(names::kDataRecordBytes, '\0');
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

uint32_t UpdateScanRecord(const std::u16string& path, uint32_t verdict) {
    HeldScanRecord& record = serviceState().scanRecord;
    ScanRecordFields fields;
    if (record.held) {
        fields = std::move(record.fields);
    } else {
        std::vector<uint8_t> buffer(kReadBufferBytes, 0);
        uint32_t size = 0;
        platform::RegKey key;
        if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, key) == 0) {
            size = kQuerySize;
            uint32_t type = 0;
            uint32_t rc = key.queryValue(names::kValueData, &type, buffer.data(), &size);
            key.close();
            if (rc == platform::kErrorMoreData) {
                logFormat("Registry ERROR: Buffer to small(%d)\n", static_cast<int>(size));
                return 1;
            }
            if (rc == platform::kErrorFileNotFound) {
                logText("Registry ERROR: file not found\n");
                return 1;
            }
            if (rc != 0) {
                logFormat("Registry ERROR: return %d\n", static_cast<int>(rc));
                return rc;
            }
        }
        fields = parseScanRecord(buffer.data(), size);
    }
    fields.checked = plusOne(fields.checked);
    if (verdict == 1) {
        fields.infected = plusOne(fields.infected);
        fields.lastInfected = path;
    }
    fields.lastChecked = path;
    if (verdict == 1 || Clock::now() - record.lastWrite >= kScanRecordWriteInterval) {
        writeRecord(record, fields);
    } else {
        record.fields = std::move(fields);
        record.held = true;
    }
    return 0;
}

void FlushScanRecord() {
    HeldScanRecord& record = serviceState().scanRecord;
    if (record.held) writeRecord(record, record.fields);
}

void FlushScanRecordIfDue() {
    HeldScanRecord& record = serviceState().scanRecord;
    if (record.held && Clock::now() - record.lastWrite >= kScanRecordWriteInterval)
        writeRecord(record, record.fields);
}

std::chrono::milliseconds ScanRecordDueIn() {
    const HeldScanRecord& record = serviceState().scanRecord;
    if (!record.held) return std::chrono::milliseconds::max();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        record.lastWrite + kScanRecordWriteInterval - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace ovsvc
