#include "app/scan/drive_watch.h"

#include <system_error>

#include "app/scan/scan_targets.h"
#include "platform/path.h"
#include "platform/text.h"

DriveWatch::DriveWatch(Announce announce, Log log, std::chrono::milliseconds interval,
                       std::function<std::u16string()> driveStrings)
    : m_announce(std::move(announce)),
      m_log(std::move(log)),
      m_interval(interval),
      m_driveStrings(driveStrings ? std::move(driveStrings)
                                  : [] { return platform::logicalDriveStrings(); }) {}

DriveWatch::~DriveWatch() {
    stop();
    if (m_thread.joinable()) m_thread.join();
}

bool DriveWatch::start() {
    if (m_thread.joinable()) return m_running;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = false;
    }
    try {
        m_running = true;
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        m_running = false;
        return false;
    }
    return true;
}

void DriveWatch::stop() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop = true;
    m_wake.notify_all();
}

bool DriveWatch::waitInterval() {
    std::unique_lock<std::mutex> guard(m_lock);
    return !m_wake.wait_for(guard, m_interval, [this] { return m_stop; });
}

void DriveWatch::run() {
    if (m_log) m_log(u"ExtDevThread");
    for (;;) {
        const std::u16string before = m_driveStrings();
        if (!waitInterval()) break;
        const std::u16string after = m_driveStrings();
        const std::u16string root = FindNewDrive(before, after);
        if (!root.empty() && m_announce) {
            m_announce(platform::format16(kNewDeviceFormat, root.c_str()));
        }
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stop) break;
    }
    m_running = false;
}
