#include "app/scan/scan_control.h"

#include <memory>
#include <system_error>

#include "common/scan_codes.h"
#include "platform/library.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

constexpr char kEngineFile[] = "libov_core.so";
constexpr char16_t kScheduledDrive[] = u"C:\\";

void CopyField(char16_t (&field)[512], const std::u16string& text) {
    platform::copy16(field, std::size(field), text);
}

}  // namespace

std::chrono::milliseconds NextScanPoll(bool workerRunning, bool managerRunning,
                                       const ScanTimings& timings) {
    if (workerRunning) return timings.whileWorkerRuns;
    if (managerRunning) return timings.whileManagerRuns;
    return std::chrono::milliseconds(0);
}

ScanControl::ScanControl(ScanProgress& progress, UiCaller& ui, ScanTargetDialogs dialogs, Log log)
    : m_progress(progress),
      m_ui(ui),
      m_dialogs(std::move(dialogs)),
      m_log(std::move(log)),
      m_engineFolder(platform::programFolderHost()) {
    m_window = platform::createWindow(
        [this](uint32_t code, const char16_t* text) {
            return m_progress.onEngineMessage(code, text);
        },
        platform::ReceiverThreading::ThreadSafe);
    platform::setMessageInterest(m_window,
                                 [this](uint32_t code) { return m_progress.wantsMessage(code); });
}

ScanControl::~ScanControl() {
    // The threads end on their own once the engine has taken the stop; a
    // worker waiting for a dialog was released by the owner's UiCaller.
    m_stopRequested = true;
    while (m_managerRunning) {
        if (m_workerRunning && !m_stopTaken && callStop() != 0) m_stopTaken = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_manager.joinable()) m_manager.join();
    platform::destroyWindow(m_window);
}

std::string ScanControl::enginePath() const { return m_engineFolder + "/" + kEngineFile; }

bool ScanControl::start(ScanKind kind, bool scheduled) {
    if (m_phase != ScanPhase::Idle) return false;
    if (m_manager.joinable()) m_manager.join();
    m_kind = kind;
    m_scheduled = scheduled;
    m_stopRequested = false;
    m_stopTaken = false;
    m_progress.reset();
    // Both count as running from here: the poll never sees a gap before
    // the manager has started the worker.
    m_managerRunning = true;
    m_workerRunning = true;
    m_phase = ScanPhase::Running;
    try {
        m_manager = std::thread([this] { managerMain(); });
    } catch (const std::system_error&) {
        m_managerRunning = false;
        m_workerRunning = false;
        m_phase = ScanPhase::Idle;
        return false;
    }
    return true;
}

int32_t ScanControl::callStop() {
    // The same library instance the running scan uses: loading it again
    // only counts one more reference.
    platform::Library engine;
    if (platform::Library::load(enginePath(), engine) != 0) return -1;
    auto stop = reinterpret_cast<FnStopOV>(engine.symbol("fnStopOV"));
    return stop != nullptr ? stop() : -1;
}

void ScanControl::requestStop() {
    if (m_phase != ScanPhase::Running) return;
    m_phase = ScanPhase::Stopping;
    m_stopRequested = true;
    // Zero: the engine has no scan thread yet (still setting up) or no
    // more; the poll asks again while the worker runs.
    if (callStop() > 0) m_stopTaken = true;
}

void ScanControl::repeatPendingStop() {
    if (m_phase == ScanPhase::Stopping && !m_stopTaken && m_workerRunning) {
        if (callStop() > 0) m_stopTaken = true;
    }
}

std::chrono::milliseconds ScanControl::poll() {
    repeatPendingStop();
    return NextScanPoll(m_workerRunning, m_managerRunning, m_timings);
}

void ScanControl::finished() {
    if (!m_managerRunning && m_manager.joinable()) m_manager.join();
    m_phase = ScanPhase::Idle;
}

void ScanControl::managerMain() {
    if (m_log) m_log(u"In DoStartOVScanningMngrThreadFunc");
    std::thread worker;
    try {
        worker = std::thread([this] {
            workerMain();
            m_workerRunning = false;
        });
    } catch (const std::system_error& e) {
        m_workerRunning = false;
        if (m_log)
            m_log(platform::format16(u"DoStartOVScanningMngrThreadFunc: no scan worker, code: %d",
                                     e.code().value()));
        m_managerRunning = false;
        return;
    }
    worker.join();
    std::this_thread::sleep_for(m_timings.managerGrace);
    m_managerRunning = false;
}

void ScanControl::workerMain() {
    if (m_log) m_log(u"In DoStartOVScanningThreadFunc");
    platform::Library engine;
    std::string loadError;
    if (platform::Library::load(enginePath(), engine, &loadError) != 0) {
        if (m_log)
            m_log(u"DoStartOVScanningThreadFunc: cannot load the engine: " +
                  platform::toUtf16(loadError));
        return;
    }
    m_request = ScanRequest{};
    m_request.scanType = -1;
    auto start = reinterpret_cast<FnStartOVScan>(engine.symbol("fnStartOVScan"));
    if (start == nullptr) {
        if (m_log) m_log(u"DoStartOVScanningThreadFunc: the engine has no fnStartOVScan");
        return;
    }
    m_request.hwndNotify = m_window;

    switch (m_kind) {
        case ScanKind::Threat:
            m_progress.openReportLog(names::kScanTypeTextThreat);
            m_request.scanType = names::kScanTypeThreat;
            runScan(start);
            break;
        case ScanKind::Full: {
            m_request.scanType = names::kScanTypeFull;
            // The list is made anew for every scan, so an earlier choice
            // never adds to this one.
            auto drives = std::make_shared<std::u16string>();
            if (m_scheduled) {
                *drives = kScheduledDrive;
            } else if (m_dialogs.fullScan) {
                auto dialog = m_dialogs.fullScan;
                m_ui.call([drives, dialog] {
                    std::u16string chosen;
                    if (dialog(chosen) == 1) *drives = chosen;
                });
            }
            if (drives->empty()) break;
            m_progress.openReportLog(names::kScanTypeTextFull);
            CopyField(m_request.scanPaths, *drives);
            m_progress.writeReportLine(drives->c_str(), true);
            runScan(start);
            break;
        }
        case ScanKind::Custom: {
            m_request.scanType = names::kScanTypeCustom;
            auto file = std::make_shared<std::u16string>();
            auto folder = std::make_shared<std::u16string>();
            if (m_dialogs.customScan) {
                auto dialog = m_dialogs.customScan;
                m_ui.call([file, folder, dialog] {
                    std::u16string chosenFile, chosenFolder;
                    dialog(chosenFile, chosenFolder);
                    *file = chosenFile;
                    *folder = chosenFolder;
                });
            }
            // Only one target goes to the engine, the file first.
            if (!file->empty()) {
                m_progress.openReportLog(names::kScanTypeTextCustom);
                CopyField(m_request.customFile, *file);
            } else if (!folder->empty()) {
                m_progress.openReportLog(names::kScanTypeTextCustom);
                CopyField(m_request.customFolder, *folder);
            } else {
                break;
            }
            runScan(start);
            break;
        }
        case ScanKind::None:
            m_progress.setInformation(u"Please Select A Scan Type...");
            break;
    }
}

void ScanControl::runScan(FnStartOVScan start) {
    // A stop confirmed while the targets were chosen ends the scan before
    // the engine starts it.
    if (m_stopRequested) {
        if (m_log) m_log(u"DoStartOVScanningThreadFunc: stopped before the engine started");
        return;
    }
    (void)start(&m_request);
}
