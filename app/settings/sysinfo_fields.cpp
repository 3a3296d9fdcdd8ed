#include "app/settings/sysinfo_fields.h"

#include "app/shell/app_log.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace {

// Every text of the dialog is formatted into 512 characters.
constexpr size_t kFieldUnits = 511;

void put(DialogFields& fields, int32_t id, std::u16string text) {
    if (text.size() > kFieldUnits) text.resize(kFieldUnits);
    fields[id] = std::move(text);
}

int32_t megabytes(uint64_t bytes) { return static_cast<int32_t>(bytes >> 20); }

}  // namespace

std::u16string ArchitectureText(uint16_t code) {
    switch (code) {
        case platform::kArchitectureIntel:
            return u"INTEL";
        case platform::kArchitectureAmd64:
            return u"AMD";
        case platform::kArchitectureIa64:
            return u"IS64";
        case platform::kArchitectureUnknown:
            return u"<unknown>";
        default:
            return {};
    }
}

int32_t LoadSystemInfoData(DialogFields& fields) {
    LogEntry(u"LoadSystemInfoData");
    std::u16string user;
    if (platform::userName(user) == 0) put(fields, 1070, user);
    std::u16string computer;
    if (platform::computerName(computer) == 0) put(fields, 1002, computer);

    const platform::SystemFacts facts = platform::systemFacts();
    put(fields, 1071, ArchitectureText(facts.architecture));
    using platform::format16;
    put(fields, 1069, format16(u"Number of processors: %u", facts.numberOfProcessors));
    put(fields, 1075, format16(u"Page size: %u", facts.pageSize));
    put(fields, 1076, format16(u"Processor type: %u", facts.processorType));
    put(fields, 1077,
        format16(u"Minimum application address: %lx",
                 static_cast<unsigned long>(facts.minimumApplicationAddress)));
    put(fields, 1078,
        format16(u"Maximum application address: %lx",
                 static_cast<unsigned long>(facts.maximumApplicationAddress)));
    // The mask is printed as the 32-bit number it is on the 32-bit system
    // the format was made for: the first 32 processors.
    put(fields, 1079,
        format16(u"Active processor mask: %u", static_cast<uint32_t>(facts.activeProcessorMask)));
    return 1;
}

int32_t LoadMemData(DialogFields& fields, uint32_t* error) {
    LogEntry(u"LoadMemData");
    platform::MemoryStatus status;
    const uint32_t rc = platform::memoryStatus(status);
    if (rc != 0) {
        if (error != nullptr) *error = rc;
        return 0;
    }
    using platform::format16;
    put(fields, 1064,
        format16(u"%ld percent of memory is in use.", static_cast<long>(status.memoryLoad)));
    put(fields, 1050,
        format16(u"There are %d total MB of physical memory.", megabytes(status.totalPhysical)));
    put(fields, 1065,
        format16(u"There are %d free MB of physical memory.", megabytes(status.availablePhysical)));
    put(fields, 1052,
        format16(u"There are %d total MB of paging file.", megabytes(status.totalPageFile)));
    put(fields, 1063,
        format16(u"There are %d free MB of paging file.", megabytes(status.availablePageFile)));
    put(fields, 1066,
        format16(u"There are %d total MB of virtual memory.", megabytes(status.totalVirtual)));
    put(fields, 1067,
        format16(u"There are %d free MB of virtual memory.", megabytes(status.availableVirtual)));
    put(fields, 1068,
        format16(u"There are %d free MB of extended memory.",
                 megabytes(status.availableExtendedVirtual)));
    return 1;
}

int32_t LoadOSInfoData(DialogFields& fields) {
    LogEntry(u"LoadOSInfoData");
    platform::OsVersion version;
    if (platform::osVersion(version) != 0) return 1;
    using platform::format16;
    put(fields, 1072, format16(u"%d", static_cast<int32_t>(version.major)));
    put(fields, 1009, format16(u"%d", static_cast<int32_t>(version.minor)));
    put(fields, 1008, format16(u"%d", static_cast<int32_t>(version.build)));
    put(fields, 1010, version.servicePack);
    return 1;
}

int32_t LoadExtraData(DialogFields& fields) {
    LogEntry(u"LoadExtraData");
    platform::ProcessorSpeed speed;
    if (platform::firstProcessorSpeed(speed) != 0) return 0;
    put(fields, 1080,
        platform::format16(u"CPU Speed: %d Mhz Current Spped: %d Mhz",
                           static_cast<int32_t>(speed.maxMhz),
                           static_cast<int32_t>(speed.currentMhz)));
    return 1;
}
