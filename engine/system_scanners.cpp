// Services, drivers and the boot sector: the program files the system
// starts by itself, and one sector of the first disk.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/threat_scan.h"
#include "platform/drivers.h"
#include "platform/error.h"
#include "platform/physical_drive.h"
#include "platform/scm.h"
#include "platform/text.h"

namespace {

constexpr size_t kPathUnits = 8192;

// __ScanFile cuts its path in place, so each path goes in a copy of its own.
void scanPath(std::u16string_view path, const char16_t* extra) {
    std::u16string copy(path);
    __ScanFile(copy.data(), extra);
}

// A zero-filled heap block of at least `bytes`, aligned for the records the
// service manager lays out in it; null when memory is short.
std::unique_ptr<uint64_t[]> zeroedBlock(uint32_t bytes) {
    return std::unique_ptr<uint64_t[]>(new (std::nothrow) uint64_t[bytes / 8 + 1]());
}

// Scans the image path of one service; traces what cannot be opened or read.
void scanService(const platform::ServiceManager& manager, const char16_t* name) {
    platform::Service service;
    uint32_t rc = platform::Service::open(manager, name, platform::kServiceQueryConfig, service);
    if (rc != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" OpenService: %s Last Error: %d", name, static_cast<int>(rc));
        return;
    }
    platform::ServiceConfig fixed{};
    platform::ServiceConfig* config = &fixed;
    std::unique_ptr<uint64_t[]> block;
    uint32_t needed = 0;
    rc = service.queryConfig(&fixed, sizeof fixed, needed);
    if (rc == platform::kErrorInsufficientBuffer) {
        block = zeroedBlock(needed);
        if (!block) {
            SendOVMsg(SCANMSG_DEBUG, u" QueryServiceConfig HeapAlloc Last Error: %d",
                      static_cast<int>(platform::kErrorNotEnoughMemory));
            return;
        }
        config = reinterpret_cast<platform::ServiceConfig*>(block.get());
        rc = service.queryConfig(config, needed, needed);
    }
    if (rc != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" QueryServiceConfig Last Error: %d", static_cast<int>(rc));
        return;
    }
    // A command line ("svchost.exe -k netsvcs") is cut to its program there.
    scanPath(config->binaryPathName, nullptr);
}

}  // namespace

int32_t DoScanServices() {
    if (RunFlag() != 1) return 0;
    SendOVMsg(SCANMSG_DEBUG, u" DoScanServices start");
    platform::ServiceManager manager;
    if (platform::ServiceManager::open(platform::kScManagerAllAccess, manager) == 0) {
        const uint32_t types = platform::kServiceDriver | platform::kServiceWin32;
        uint32_t needed = 0;
        uint32_t returned = 0;
        uint32_t resume = 0;
        // First the room the list needs, then the list itself.
        (void)manager.enumServices(types, platform::kServiceStateAll, nullptr, 0, needed, returned,
                                   &resume);
        std::unique_ptr<uint64_t[]> block = zeroedBlock(needed);
        if (!block) {
            SendOVMsg(SCANMSG_DEBUG, u" DoScanServices failed mem aloc");
            return 0;
        }
        resume = 0;
        if (manager.enumServices(types, platform::kServiceStateAll, block.get(), needed, needed,
                                 returned, &resume) != 0) {
            SendOVMsg(SCANMSG_DEBUG, u" DoScanServices failed enum services");
            return 0;
        }
        const auto* services =
            reinterpret_cast<const platform::EnumServiceStatusProcess*>(block.get());
        for (uint32_t i = 0; i < returned; ++i) scanService(manager, services[i].serviceName);
    }
    SendOVMsg(SCANMSG_DEBUG, u" DoScanServices end");
    return 1;
}

int32_t DoScanDrivers() {
    if (RunFlag() != 1) return 0;
    SendOVMsg(SCANMSG_DEBUG, u" DoScanDrivers start");
    const platform::DriverSources& sources = threatScanHooks().driverSources;
    std::vector<platform::LoadedDriver> drivers;
    int32_t listed = 0;
    // The list grows to fit: however many drivers are loaded, each is looked at.
    if (platform::listLoadedDrivers(drivers, sources) == 0) {
        platform::DriverFiles files;
        (void)platform::DriverFiles::load(sources, files);
        for (const platform::LoadedDriver& driver : drivers) {
            std::u16string file;
            if (files.fileName(driver.name, file) != 0 || file.size() >= kPathUnits) continue;
            SendOVMsg(SCANMSG_DEBUG, u" DoScanDrivers driver name: %s", file.c_str());
            scanPath(file, nullptr);
        }
        listed = static_cast<int32_t>(drivers.size());
    }
    SendOVMsg(SCANMSG_DEBUG, u" DoScanDrivers end");
    return listed;
}

int32_t DoScanMBRLocation() {
    if (RunFlag() != 1) return 1;
    SendOVMsg(SCANMSG_DEBUG, u" DoScanMBRLocation start");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Scanning Partition MBR ...");
    platform::PhysicalDrive drive;
    uint32_t rc = platform::PhysicalDrive::open(0, drive);
    if (rc != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" DoScanMBRLocation: error code %d", static_cast<int>(rc));
    } else {
        // The sixth 512-byte sector; what lies past the end of a short drive
        // reads as zeros.
        uint8_t sector[512] = {};
        uint32_t got = 0;
        rc = drive.readAt(2560, sector, sizeof sector, got);
        drive.close();
        if (rc != 0) {
            SendOVMsg(SCANMSG_DEBUG, u" DoScanMBRLocation: error code %d", static_cast<int>(rc));
        } else {
            GenerateCryptoMd5Buffer(sector, sizeof sector, u"MBR", nullptr);
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u" DoScanMBRLocation end");
    return 1;
}
