#include "tools/orvane-scan/scan_session.h"

#include <cstdio>
#include <mutex>

#include "app/scan/report_log.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "platform/message.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/orvane-scan/terminal_text.h"

namespace {

// The Debug setting, read anew for each message that depends on it.
bool DebugSetting() {
    uint32_t value = 0;
    if (platform::readDword(platform::RegRoot::LocalMachine, names::kSettingsKey, names::kDebug,
                            value) != 0)
        return false;
    return value == 1;
}

std::string Elapsed(std::chrono::steady_clock::duration d) {
    auto total = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(total / 3600),
                  static_cast<long long>(total / 60 % 60), static_cast<long long>(total % 60));
    return buf;
}

class Receiver {
public:
    Receiver(ScanOutcome& outcome, const SessionOutput& output)
        : m_outcome(outcome), m_output(output), m_started(std::chrono::steady_clock::now()) {}

    intptr_t handle(uint32_t code, const char16_t* text) {
        if (!text) text = u"";
        switch (code) {
            case SCANMSG_STATUS:
                m_outcome.setupText = text;
                if (std::u16string_view(text) == u"Scan thread started") m_outcome.ran = true;
                debugLine(text);
                break;
            case SCANMSG_SCAN_TYPE:
            case SCANMSG_SCAN_STARTED:
            case SCANMSG_INFECTED_TEXT:
                debugLine(text);
                break;
            case SCANMSG_SCAN_LOCATION:
                m_location = text;
                debugLine(text);
                break;
            case SCANMSG_HIDDEN_PROCESS:
                ++m_outcome.hiddenProcesses;
                debugLine(text);
                break;
            case SCANMSG_REPORT_LINE:
                WriteReportLine(text, 0);
                report(text);
                break;
            case SCANMSG_OBJECT_TICK:
                ++m_outcome.objects;
                break;
            case SCANMSG_INFECTED_TICK:
                ++m_outcome.infected;
                break;
            case SCANMSG_CURRENT_FILE:
                m_current = text;
                break;
            case SCANMSG_DEBUG:
                debugLine(text);
                break;
            default:
                break;
        }
        drawProgress(false);
        return 0;
    }

    // A trace leaves nothing behind while Debug is off: it is neither
    // written nor counted, and the progress line is drawn from the other
    // messages as well.
    bool wants(uint32_t code) { return code != SCANMSG_DEBUG || debugOn(); }

    void clearProgress() {
        if (m_drawn) std::fputs("\r\033[K", stderr), std::fflush(stderr);
        m_drawn = false;
    }

private:
    void debugLine(const char16_t* text) {
        if (debugOn()) WriteReportLine(text, 1);
    }

    // The Debug setting as the registry holds it: read again whenever the
    // registry may have changed. It is asked for every trace (millions in a
    // scan with Debug on), so the gate keeps the asking cheap, reading the
    // clock at every eighth: a change made by anyone takes effect within a
    // few milliseconds and eight traces.
    bool debugOn() {
        if (m_debugGate.mayHaveChanged()) m_debug = DebugSetting();
        return m_debug;
    }

    void report(const char16_t* text) {
        Finding finding;
        if (!ParseReportLine(text, finding)) {
            finding.path = text;
            finding.type = u"Report";
        }
        m_outcome.findings.push_back(finding);
        if (!m_output.findings) return;
        clearProgress();
        std::string out = "FOUND " + TerminalText(finding.type) + ": " + TerminalPath(finding.path);
        if (finding.hasLocation) out += " [" + TerminalText(finding.location) + "]";
        std::fprintf(stdout, "%s\n", out.c_str());
        std::fflush(stdout);
    }

    void drawProgress(bool force) {
        if (!m_output.progress) return;
        auto now = std::chrono::steady_clock::now();
        if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) return;
        m_lastDraw = now;
        std::u16string file = m_current;
        if (file.size() > 50) file = u"..." + file.substr(file.size() - 47);
        std::string where = TerminalText(m_location);
        if (!where.empty() && !file.empty()) where += " ";
        where += TerminalPath(file);
        std::string line = std::to_string(m_outcome.objects) + " objects, " +
                           std::to_string(m_outcome.infected) + " infected, " +
                           Elapsed(now - m_started) + "  " + where;
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    ScanOutcome& m_outcome;
    const SessionOutput& m_output;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_lastDraw{};
    std::u16string m_location;
    std::u16string m_current;
    bool m_drawn = false;
    bool m_debug = false;
    platform::RegistryChangeGate m_debugGate{8};
};

}  // namespace

bool ParseReportLine(std::u16string_view line, Finding& out) {
    constexpr std::u16string_view kInfected = u" Infected Generic ";
    constexpr std::u16string_view kHidden = u" Hidden process: ";
    if (line.substr(0, kInfected.size()) == kInfected) {
        std::u16string_view rest = line.substr(kInfected.size());
        size_t colon = rest.find(u": ");
        if (colon == std::u16string_view::npos) return false;
        if (rest.size() < 2 || rest.substr(rest.size() - 2) != u"].") return false;
        size_t open = rest.rfind(u" [");
        if (open == std::u16string_view::npos || open < colon) return false;
        out.type = rest.substr(0, colon);
        out.path = rest.substr(colon + 2, open - colon - 2);
        out.location = rest.substr(open + 2, rest.size() - 2 - open - 2);
        out.hasLocation = out.location != u"(null)";
        if (!out.hasLocation) out.location.clear();
        return true;
    }
    if (line.substr(0, kHidden.size()) == kHidden) {
        std::u16string_view rest = line.substr(kHidden.size());
        while (!rest.empty() && (rest.back() == u'\n' || rest.back() == u'\r'))
            rest.remove_suffix(1);
        out.type = u"Hidden process";
        out.path = rest;
        out.hasLocation = false;
        return true;
    }
    return false;
}

ScanOutcome RunScan(FnStartOVScan start, ScanRequest& request, const char16_t* scanTypeText,
                    const std::u16string& fullScanDrives, const SessionOutput& output) {
    ScanOutcome outcome;
    Receiver receiver(outcome, output);
    const auto began = std::chrono::steady_clock::now();
    platform::WindowHandle window = platform::createWindow(
        [&receiver](uint32_t code, const char16_t* text) { return receiver.handle(code, text); },
        platform::ReceiverThreading::ThreadSafe);
    platform::setMessageInterest(window,
                                 [&receiver](uint32_t code) { return receiver.wants(code); });
    request.hwndNotify = window;

    if (OpenReportLog(scanTypeText)) {
        outcome.reportPath = DefaultReportLog().path();
    } else {
        // Every scan leaves its report; one that could not have it is not run.
        const std::u16string& path = DefaultReportLog().path();
        outcome.refused =
            path.empty() ? std::string(
                               "no installation with a logs folder: the report log "
                               "cannot be written")
                         : "the report log " + TerminalPath(path) + " cannot be created (error " +
                               std::to_string(DefaultReportLog().openError()) +
                               "); it is never written through a link or over a file of "
                               "someone else";
        platform::destroyWindow(window);
        return outcome;
    }
    if (!fullScanDrives.empty()) WriteReportLine(fullScanDrives.c_str(), 1);

    start(&request);

    platform::destroyWindow(window);
    receiver.clearProgress();
    if (DebugSetting()) WriteReportLine(u"Scan Ended\n", 1);
    std::u16string finished =
        platform::format16(u"Scan Finished!, %d Object Scanned, %d Infected Found.",
                           outcome.objects, outcome.infected);
    WriteReportLine(finished.c_str(), 1);
    WriteReportFooter(outcome.objects, outcome.infected);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return outcome;
}
