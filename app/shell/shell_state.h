// Process-wide state of the desktop application that several parts share:
// the scanning flag, the scheduled-start flag and the path of the current
// scan report. One instance, gShellState; Reset() puts it back as at start.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class ShellState {
public:
    // 1 while a scan is under way; written by the user-interface thread,
    // read by worker threads.
    std::atomic<int32_t> scanning{0};
    // 1 while a scheduled scan started by the schedule poll runs.
    std::atomic<int32_t> scheduledStart{0};
    // Scan type code of the due scheduled job (1034 threat, else full).
    std::atomic<int32_t> scheduledScanType{0};

    // Path of the current scan report; empty until a scan has run.
    std::u16string scanReportPath() const;
    void setScanReportPath(std::u16string path);

    void Reset();

private:
    mutable std::mutex m_lock;
    std::u16string m_scanReportPath;
};

extern ShellState gShellState;
