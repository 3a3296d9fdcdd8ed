#include "app/scan/scan_progress.h"

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "platform/registry.h"

void ScanProgress::reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    const uint64_t version = m_fields.version + 1;
    m_fields = ScanFields();
    m_fields.version = version;
}

intptr_t ScanProgress::onEngineMessage(uint32_t code, const char16_t* text) {
    if (text == nullptr) text = u"";
    if (m_hook) m_hook(code);
    std::lock_guard<std::mutex> guard(m_lock);
    switch (code) {
        case SCANMSG_STATUS:
        case SCANMSG_SCAN_STARTED:
        case SCANMSG_INFECTED_TEXT:
            m_fields.information = text;
            debugLineLocked(text);
            break;
        case SCANMSG_SCAN_TYPE:
            m_fields.scanType = text;
            debugLineLocked(text);
            break;
        case SCANMSG_SCAN_LOCATION:
            m_fields.location = text;
            debugLineLocked(text);
            break;
        case SCANMSG_HIDDEN_PROCESS:
            ++m_fields.hiddenProcesses;
            m_fields.hiddenName = text;
            debugLineLocked(text);
            break;
        case SCANMSG_REPORT_LINE:
            log().writeLine(text, false);
            break;
        case SCANMSG_OBJECT_TICK:
            ++m_fields.objects;
            break;
        case SCANMSG_INFECTED_TICK:
            ++m_fields.infected;
            break;
        case SCANMSG_THREAT_TYPE:
            m_fields.threatType = text;
            break;
        case SCANMSG_DEBUG:
            debugLineLocked(text);
            return 0;  // leaves the figures as they were
        default:       // "scan ended" and the current file are not acted on
            return 0;
    }
    ++m_fields.version;
    return 0;
}

bool ScanProgress::wantsMessage(uint32_t code) {
    if (code == SCANMSG_CURRENT_FILE || code == SCANMSG_SCAN_ENDED) return false;
    if (code != SCANMSG_DEBUG) return true;
    std::lock_guard<std::mutex> guard(m_lock);
    return debugLocked();
}

void ScanProgress::setInformation(const std::u16string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_fields.information = text;
    ++m_fields.version;
}

ScanFields ScanProgress::snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_fields;
}

uint64_t ScanProgress::version() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_fields.version;
}

int32_t ScanProgress::openReportLog(const char16_t* scanTypeText) {
    std::lock_guard<std::mutex> guard(m_lock);
    return log().open(scanTypeText);
}

int32_t ScanProgress::writeReportLine(const char16_t* text, bool debug) {
    std::lock_guard<std::mutex> guard(m_lock);
    return log().writeLine(text, debug);
}

int32_t ScanProgress::writeReportFooter(int32_t objectsScanned, int32_t infectedCount) {
    std::lock_guard<std::mutex> guard(m_lock);
    return log().writeFooter(objectsScanned, infectedCount);
}

std::u16string ScanProgress::reportLogPath() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return log().path();
}

bool ScanProgress::debugSetting() {
    std::lock_guard<std::mutex> guard(m_lock);
    return debugLocked();
}

bool ScanProgress::debugLocked() {
    // Read again whenever the registry may have changed. The engine asks for
    // every trace it could send (millions in a scan with Debug on), so the
    // gate keeps the asking cheap; a change by this process takes effect at
    // once, one by anyone else within a few milliseconds and eight traces.
    if (m_debugGate.mayHaveChanged()) {
        uint32_t value = 0;
        m_debug = platform::readDword(platform::RegRoot::LocalMachine, names::kSettingsKey,
                                      names::kDebug, value) == 0 &&
                  value == 1;
    }
    return m_debug;
}

void ScanProgress::debugLineLocked(const char16_t* text) {
    if (debugLocked()) log().writeLine(text, true);
}
