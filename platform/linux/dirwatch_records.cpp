#include "platform/linux/dirwatch_records.h"

#include <cstring>

namespace platform::detail {

namespace {

template <typename T>
bool readAt(const uint8_t* data, size_t size, size_t offset, T& out) {
    if (offset > size || size - offset < sizeof(T)) return false;
    std::memcpy(&out, data + offset, sizeof(T));
    return true;
}

// The kernel's layouts, spelled out so the decoder needs no kernel header.
constexpr size_t kInotifyHeader = 16;   // wd, mask, cookie, len
constexpr size_t kFanotifyHeader = 24;  // event_len, vers, reserved, metadata_len, mask, fd, pid
constexpr uint8_t kFanotifyVersion = 3;
constexpr uint8_t kInfoTypeDfidName = 2;
constexpr uint8_t kInfoTypeDfid = 3;
constexpr size_t kInfoHeader = 4;  // info_type, pad, len
constexpr size_t kFsid = 8;
constexpr size_t kHandleHeader = 8;  // handle_bytes, handle_type
constexpr uint32_t kMaxHandleBytes = 128;

}  // namespace

size_t decodeInotifyRecords(const uint8_t* data, size_t size, std::vector<InotifyRecord>& out) {
    size_t offset = 0;
    while (true) {
        int32_t watch = 0;
        uint32_t mask = 0, cookie = 0, length = 0;
        if (!readAt(data, size, offset, watch) || !readAt(data, size, offset + 4, mask) ||
            !readAt(data, size, offset + 8, cookie) || !readAt(data, size, offset + 12, length)) {
            break;
        }
        if (length > size - offset - kInotifyHeader) break;
        InotifyRecord record;
        record.watch = watch;
        record.mask = mask;
        record.cookie = cookie;
        const char* name = reinterpret_cast<const char*>(data + offset + kInotifyHeader);
        record.name.assign(name, strnlen(name, length));
        out.push_back(std::move(record));
        offset += kInotifyHeader + length;
    }
    return offset;
}

size_t decodeFanotifyRecords(const uint8_t* data, size_t size, std::vector<FanotifyRecord>& out) {
    size_t offset = 0;
    while (true) {
        uint32_t eventLength = 0;
        uint8_t version = 0;
        uint16_t metadataLength = 0;
        FanotifyRecord record;
        if (!readAt(data, size, offset, eventLength) || !readAt(data, size, offset + 4, version) ||
            !readAt(data, size, offset + 6, metadataLength) ||
            !readAt(data, size, offset + 8, record.mask) ||
            !readAt(data, size, offset + 16, record.fd) ||
            !readAt(data, size, offset + 20, record.pid)) {
            break;
        }
        if (version != kFanotifyVersion || eventLength < kFanotifyHeader ||
            eventLength > size - offset || metadataLength < kFanotifyHeader ||
            metadataLength > eventLength) {
            break;
        }
        const uint8_t* event = data + offset;
        size_t info = metadataLength;
        while (info + kInfoHeader <= eventLength) {
            uint8_t infoType = event[info];
            uint16_t infoLength = 0;
            std::memcpy(&infoLength, event + info + 2, sizeof infoLength);
            if (infoLength < kInfoHeader || infoLength > eventLength - info) break;
            if ((infoType == kInfoTypeDfidName || infoType == kInfoTypeDfid) && !record.hasFolder &&
                infoLength >= kInfoHeader + kFsid + kHandleHeader) {
                const uint8_t* at = event + info + kInfoHeader;
                const size_t room = infoLength - kInfoHeader;
                uint32_t handleBytes = 0;
                int32_t handleType = 0;
                std::memcpy(record.fsid, at, kFsid);
                std::memcpy(&handleBytes, at + kFsid, 4);
                std::memcpy(&handleType, at + kFsid + 4, 4);
                if (handleBytes <= kMaxHandleBytes && handleBytes <= room - kFsid - kHandleHeader) {
                    record.hasFolder = true;
                    record.handleType = static_cast<uint32_t>(handleType);
                    const uint8_t* handle = at + kFsid + kHandleHeader;
                    record.handle.assign(reinterpret_cast<const char*>(handle), handleBytes);
                    if (infoType == kInfoTypeDfidName) {
                        const char* name = reinterpret_cast<const char*>(handle + handleBytes);
                        size_t nameRoom = room - kFsid - kHandleHeader - handleBytes;
                        record.name.assign(name, strnlen(name, nameRoom));
                    }
                }
            }
            info += infoLength;
        }
        out.push_back(std::move(record));
        offset += eventLength;
    }
    return offset;
}

}  // namespace platform::detail
