#include "app/shell/shell_state.h"

ShellState gShellState;

std::u16string ShellState::scanReportPath() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_scanReportPath;
}

void ShellState::setScanReportPath(std::u16string path) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_scanReportPath = std::move(path);
}

void ShellState::Reset() {
    scanning = 0;
    scheduledStart = 0;
    scheduledScanType = 0;
    setScanReportPath({});
}
