// The four entry points of libov_core.so; everything else stays hidden.
#include "engine/engine_internal.h"
#include "engine/scan_request.h"

extern "C" {

OV_EXPORT int32_t fnStartOVScan(ScanRequest* request) { return StartOVScan(request); }
OV_EXPORT int32_t fnStopOV(void) { return StopOV(); }
OV_EXPORT int32_t fnPauseOV(void) { return PauseOV(); }
OV_EXPORT int32_t fnResumeOV(void) { return ResumeOV(); }
}
