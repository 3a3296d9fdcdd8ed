// The service thread's loop: waits on the change queue, logs every change
// and checks each added file.
#include <algorithm>
#include <string>

#include "platform/error.h"
#include "platform/text.h"
#include "service/directory_watcher.h"
#include "service/hash_list.h"
#include "service/realtime_check.h"
#include "service/scan_record.h"
#include "service/service_host.h"
#include "service/service_log.h"
#include "service/service_state.h"

namespace ovsvc {

namespace {

constexpr uint32_t kServiceFilter = kNotifyFileName | kNotifyLastWrite | kNotifyCreation;
constexpr uint32_t kServiceBufferBytes = 16384;
constexpr size_t kChangeLineLimit = 16000;
constexpr auto kStopPoll = std::chrono::milliseconds(200);

const char* describeAction(uint32_t action) {
    switch (action) {
        case 1:
            return "Added";
        case 2:
            return "Deleted";
        case 3:
            return "Modified";
        case 4:
            return "Renamed From";
        case 5:
            return "Renamed To";
        default:
            return "BAD DATA";
    }
}

// The kernel dropped changes (its queue overflowed, or a read brought
// nothing): the catch-up walk that follows queues the files changed
// meanwhile; truncated when that walk, or the watch itself, fell short.
void logLoss(bool truncated) {
    logText("[CRITICAL] DoFileChangesWatcherThread=>  Queue overflowed.\n");
    if (truncated) {
        logText(
            "[CRITICAL] DoFileChangesWatcherThread=>  Some changes could not be followed (watch "
            "limit, or the catch-up walk was cut short): files added meanwhile may be "
            "unchecked.\n");
    }
    logFlush();
}

}  // namespace

std::u16string systemDriveRoot() { return u"C:\\"; }

std::string changeLogLine(uint32_t action, const std::u16string& path) {
    std::string line =
        std::string("[DEBUG] ") + describeAction(action) + " " + platform::toAnsi(path);
    if (line.size() > kChangeLineLimit - 1) line.resize(kChangeLineLimit - 1);
    return line;
}

void DoFileChangesWatcherThread() {
    logText("[INFO] DoFileChangesWatcherThread=> Started...\n");
    DirectoryWatcher watcher(logLoss);
    const std::u16string root = systemDriveRoot();
    uint32_t rc = watcher.Watch(root, true, kServiceFilter, kServiceBufferBytes);
    if (rc != 0) {
        logFormat("[ERROR] DoFileChangesWatcherThread=> Cannot watch %s, code: %d\n",
                  platform::toAnsi(root).c_str(), static_cast<int>(rc));
    } else {
        logFormat("[INFO] DoFileChangesWatcherThread=> Watching %s (%s)\n",
                  platform::toAnsi(root).c_str(),
                  watcher.Backend() == platform::DirectoryWatch::Backend::Fanotify ? "fanotify"
                                                                                   : "inotify");
    }
    logFlush();
    {
        std::lock_guard<std::mutex> hold(serviceState().hashListLock);
        FlipFile();
    }
    logFlush();
    while (!serviceState().stopRequested) {
        // A burst that fills the queue only holds the watch thread back (the
        // kernel keeps what it has not read); the critical line is written
        // by logLoss, when the kernel itself dropped changes.
        // The lines of a burst's checks are held and written in one go once
        // the queue has run dry, before the loop waits: a reader of the log
        // between bursts sees every line.
        bool woken = watcher.Wait(std::chrono::milliseconds(0));
        if (!woken) {
            releaseServiceLog();
            woken = watcher.Wait(std::min(kStopPoll, ScanRecordDueIn()));
        }
        FlushScanRecordIfDue();
        if (!woken) continue;
        holdServiceLog();
        ChangeNotification change;
        if (!watcher.Next(change)) continue;
        if (debugEnabled()) {
            logText(changeLogLine(change.action, change.path));
            logText("...OK\n");
        }
        if (change.action == 1 && change.check) (void)CheckChangedFile(change.path);
    }
    // The counts of the last checks reach the registry before the service ends.
    FlushScanRecord();
    releaseServiceLog();
    watcher.Stop();
}

}  // namespace ovsvc
