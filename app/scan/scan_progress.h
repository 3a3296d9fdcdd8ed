// What a running scan has reported so far: the counters and field texts the
// main dialog shows, kept apart from the widgets. The engine's messages are
// handled here on the thread that sends them (the scan thread), under one
// lock, so a scan never waits for the user interface; the dialog reads a
// copy at its own pace. Report and debug lines go into the report log under
// the same lock, so they stay in the order the engine sent them.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/scan/report_log.h"
#include "platform/registry.h"

// A copy of the figures, as the main dialog's fields show them.
struct ScanFields {
    uint32_t objects = 0;          // 1015 Objects Scanned
    uint32_t infected = 0;         // 1019 Count
    uint32_t hiddenProcesses = 0;  // 1051
    std::u16string information;    // 1000, empty when the scan wrote nothing there
    std::u16string threatType;     // 1021
    std::u16string scanType;       // 1048
    std::u16string location;       // 1049
    std::u16string hiddenName;     // 1053
    uint64_t version = 0;          // grows with every change
};

class ScanProgress {
public:
    // Writes into the given log, or into the default report log (looked up
    // at each use, so ResetDefaultReportLog takes effect) when none is given.
    ScanProgress() = default;
    explicit ScanProgress(ReportLog& log) : m_log(&log) {}

    // Back to zero counters and empty texts, for the next scan.
    void reset();

    // One engine message, acted on as the main window acts on it. Safe from
    // any thread; never waits for anything but this object's lock. Returns 0.
    intptr_t onEngineMessage(uint32_t code, const char16_t* text);
    // False for a message that would leave no trace now (a debug trace
    // while the Debug setting is off, the current-file and scan-ended texts).
    bool wantsMessage(uint32_t code);

    // A text for the Information line from the scan side.
    void setInformation(const std::u16string& text);

    ScanFields snapshot() const;
    uint64_t version() const;

    // The report log of the scan, under the same lock as the messages.
    int32_t openReportLog(const char16_t* scanTypeText);
    int32_t writeReportLine(const char16_t* text, bool debug);
    int32_t writeReportFooter(int32_t objectsScanned, int32_t infectedCount);
    std::u16string reportLogPath() const;

    // Called with each engine message's code on the sending thread before
    // the message is handled, outside the lock; set it while no scan runs.
    // Tests use it to hold a scan at a known point.
    void setMessageHook(std::function<void(uint32_t code)> hook) { m_hook = std::move(hook); }

    // The Debug setting as the registry holds it now (re-read only when the
    // registry changed since the last look).
    bool debugSetting();

private:
    bool debugLocked();
    void debugLineLocked(const char16_t* text);

    ReportLog& log() { return m_log != nullptr ? *m_log : DefaultReportLog(); }
    const ReportLog& log() const { return m_log != nullptr ? *m_log : DefaultReportLog(); }

    ReportLog* m_log = nullptr;
    std::function<void(uint32_t code)> m_hook;
    mutable std::mutex m_lock;
    ScanFields m_fields;
    bool m_debug = false;
    platform::RegistryChangeGate m_debugGate{8};  // the clock read at every eighth trace
};
