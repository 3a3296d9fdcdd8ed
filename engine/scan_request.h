/* The record a caller hands to fnStartOVScan, and the engine's exports.
   Plain C: callers other than our own may fill it, so its layout is fixed. */
#ifndef ORVANE_SCAN_REQUEST_H
#define ORVANE_SCAN_REQUEST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
typedef char16_t ov_char16;
extern "C" {
#else
#include <uchar.h>
typedef char16_t ov_char16;
#endif

typedef struct ScanRequest {
    uint32_t hwndNotify;      /* window that receives every engine message */
    int32_t scanType;         /* 1035 full, 1036 custom, anything else threat */
    int32_t reserved1;
    int32_t deepScan;         /* 1: also hash each PE section */
    int32_t scanArchives;
    int32_t sendStatistics;
    int32_t smartExt;
    int32_t ignoreLargeFiles;
    int32_t reserved2;
    int32_t reserved3;
    ov_char16 scanPaths[512];    /* full scan: drive roots, each ending in a backslash */
    ov_char16 customFile[512];   /* custom scan: one file, empty if none */
    ov_char16 customFolder[512]; /* custom scan: one folder, empty if none */
} ScanRequest;

#ifdef __cplusplus
static_assert(sizeof(ScanRequest) == 3112, "ScanRequest is shared across the library boundary");
static_assert(offsetof(ScanRequest, scanType) == 4, "layout");
static_assert(offsetof(ScanRequest, deepScan) == 12, "layout");
static_assert(offsetof(ScanRequest, reserved3) == 36, "layout");
static_assert(offsetof(ScanRequest, scanPaths) == 40, "layout");
static_assert(offsetof(ScanRequest, customFile) == 1064, "layout");
static_assert(offsetof(ScanRequest, customFolder) == 2088, "layout");
#else
_Static_assert(sizeof(ScanRequest) == 3112, "ScanRequest is shared across the library boundary");
#endif

#if defined(__GNUC__)
#define OV_EXPORT __attribute__((visibility("default")))
#else
#define OV_EXPORT
#endif

/* Blocks until the scan has ended. 0 when setup failed; otherwise the result
   of reading the install path (0 read, 1 missing or too long, else an error). */
OV_EXPORT int32_t fnStartOVScan(ScanRequest* request);
/* Each returns nonzero when the scan thread's state could be queried. */
OV_EXPORT int32_t fnStopOV(void);
OV_EXPORT int32_t fnPauseOV(void);
OV_EXPORT int32_t fnResumeOV(void);

typedef int32_t (*FnStartOVScan)(ScanRequest*);
typedef int32_t (*FnStopOV)(void);

#ifdef __cplusplus
}
#endif

#endif
