// Stand-ins for the scan routines that are still being written elsewhere,
// so that the engine links meanwhile. Each is weak: the real definition
// replaces it. This file goes away once every routine is in.
#include "engine/engine_internal.h"

__attribute__((weak)) int32_t FindF(const char16_t*, int32_t) { return 0; }
__attribute__((weak)) int32_t CheckFileExt(char16_t*) { return 0; }
__attribute__((weak)) int32_t IsArchiveExt(char16_t*) { return 0; }
__attribute__((weak)) int32_t DoScanInArchive(const char16_t*) { return 0; }
__attribute__((weak)) int32_t doStartFullScanRutine(ScanRequest*) { return 0; }
__attribute__((weak)) int32_t doStartQuickScanRutine(ScanRequest*) { return 0; }
__attribute__((weak)) int32_t DoScanRegistryLocations() { return 0; }

// The custom scan stand-in scans the chosen file, so that a custom scan does
// its one job before the real routine arrives.
__attribute__((weak)) int32_t doStartCustomScanRutine(ScanRequest* request) {
    if (request && request->customFile[0]) {
        char16_t path[512];
        for (int i = 0; i < 512; ++i) path[i] = request->customFile[i];
        path[511] = 0;
        __ScanFile(path, nullptr);
    }
    return 0;
}
