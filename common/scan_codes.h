// Scan types, engine message codes, job status and service state codes.
#pragma once
#include <cstdint>

namespace names {

// Scan types of a scan request and of job files.
inline constexpr int32_t kScanTypeThreat = 1034;
inline constexpr int32_t kScanTypeFull = 1035;
inline constexpr int32_t kScanTypeCustom = 1036;

}  // namespace names

// Engine message codes: the window message number says what the text is.
enum : uint32_t {
    SCANMSG_STATUS = 0,
    SCANMSG_SCAN_TYPE = 1037,
    SCANMSG_SCAN_LOCATION = 1038,
    SCANMSG_SCAN_FINISHED = 1044,  // the application's own, after both scan threads end
    SCANMSG_SCAN_ENDED = 1045,
    SCANMSG_REPORT_LINE = 1054,
    SCANMSG_SCAN_STARTED = 11025,
    SCANMSG_INFECTED_TEXT = 11026,
    SCANMSG_HIDDEN_PROCESS = 11027,
    SCANMSG_OBJECT_TICK = 12024,
    SCANMSG_INFECTED_TICK = 12025,
    SCANMSG_THREAT_TYPE = 12026,
    SCANMSG_CURRENT_FILE = 23246,
    SCANMSG_DEBUG = 101024,
};

namespace names {

// Job status codes and the texts the schedule list shows for them.
inline constexpr int32_t kJobActive = 1224;
inline constexpr int32_t kJobNotActive = 1225;
inline constexpr int32_t kJobRunning = 1226;
inline constexpr int32_t kJobFinishOk = 1227;
inline constexpr int32_t kJobFinishWithError = 1228;
inline constexpr int32_t kJobDone = 1229;
inline constexpr int32_t kJobError = 1230;

// Display text of a job status; null for an unknown code.
const char16_t* jobStatusText(int32_t status);

// Service states as the application's service check reports them.
inline constexpr int32_t SERVICE_STATE_UNKNOWN = 1824;
inline constexpr int32_t SERVICE_STATE_STOPPED = 1825;
inline constexpr int32_t SERVICE_STATE_NOT_INSTALLED = 1826;
inline constexpr int32_t SERVICE_STATE_RUNNING = 1827;

// Scan type texts of the report log header.
inline constexpr char16_t kScanTypeTextThreat[] = u"Threat System Scout";
inline constexpr char16_t kScanTypeTextFull[] = u"Full System Scout";
inline constexpr char16_t kScanTypeTextCustom[] = u"Custom System Scout";

}  // namespace names
