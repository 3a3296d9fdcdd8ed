// One scan run: setup, the scan thread, teardown, and the stop, pause and
// resume requests that reach it from another thread.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/privilege.h"
#include "platform/registry.h"

namespace {

std::atomic<ScanRequest*> g_request{nullptr};
std::atomic<int32_t> g_runFlag{0};

std::recursive_mutex g_runLock;
std::recursive_mutex g_tempFolderLock;
std::recursive_mutex g_fileLock;
std::recursive_mutex g_archiveLock;

// One scan run at a time in this process; a second caller waits its turn.
std::mutex g_oneScanAtATime;

// The scan thread's state as fnStopOV/fnPauseOV/fnResumeOV see it. None
// stands for "no thread handle" (the query fails), Ended for a thread that
// has finished but has not been joined yet.
enum class ThreadState { None, Running, Ended };

struct ThreadControl {
    std::mutex lock;
    std::condition_variable pauseChanged;
    ThreadState state = ThreadState::None;
    // Written under lock; read without it by the scan thread at every
    // message, which takes the lock only when a pause is asked for.
    std::atomic<bool> paused{false};
    std::thread::id scanThread;
};

ThreadControl& control() {
    static ThreadControl c;
    return c;
}

const char16_t* const kPrivileges[] = {
    u"SeBackupPrivilege",   u"SeDebugPrivilege",      u"SeShutdownPrivilege",
    u"SeSecurityPrivilege", u"SeLoadDriverPrivilege",
};

// What the scan threads keep of the privileges checked at setup: reading
// every file and looking into every process. A scan never loads a module,
// reboots or changes the audit rules, so a flaw in a parser of hostile
// bytes cannot do so either.
void KeepOnlyScanPrivileges() {
    const uint32_t rc =
        platform::keepOnlyPrivilegesOnThisThread({u"SeBackupPrivilege", u"SeDebugPrivilege"});
    if (rc != 0)
        SendOVMsg(SCANMSG_DEBUG, u" ScanThreadProc: privileges not reduced, err %d",
                  static_cast<int>(rc));
}

void ScanThreadProc(ScanRequest* request) {
    // Before anything else, so that the threads the scan starts inherit no
    // more than this either.
    KeepOnlyScanPrivileges();
    {
        std::lock_guard<std::recursive_mutex> run(g_runLock);
        if (request->scanType == names::kScanTypeFull) {
            SendOVMsg(SCANMSG_SCAN_TYPE, u"Full System Scout...");
            doStartFullScanRutine(request);
        } else if (request->scanType == names::kScanTypeCustom) {
            SendOVMsg(SCANMSG_SCAN_TYPE, u"Custom Scout Scan...");
            doStartCustomScanRutine(request);
        } else {
            SendOVMsg(SCANMSG_SCAN_TYPE, u"Threat Scout...");
            doStartQuickScanRutine(request);
        }
    }
    ThreadControl& c = control();
    std::lock_guard<std::mutex> guard(c.lock);
    c.state = ThreadState::Ended;
}

// Releases what setup acquired, so that an early return leaves the library
// as fresh as a finished scan does.
void ReleaseScanRun() {
    UnloadOVData();
    ReleaseInfectionTable();
    ForgetUnzipRes();
    g_request = nullptr;
}

}  // namespace

ScanRequest* CurrentRequest() { return g_request.load(); }
void SetCurrentRequest(ScanRequest* request) { g_request = request; }

int32_t RunFlag() { return g_runFlag.load(std::memory_order_relaxed); }

void SetRunFlag(int32_t value) {
    g_runFlag.store(value);
    if (value == 0) {
        // A paused scan thread must see the stop, or it would never end.
        ThreadControl& c = control();
        std::lock_guard<std::mutex> guard(c.lock);
        c.pauseChanged.notify_all();
    }
}

std::recursive_mutex& TempFolderLock() { return g_tempFolderLock; }
std::recursive_mutex& FileLock() { return g_fileLock; }
std::recursive_mutex& ArchiveLock() { return g_archiveLock; }

// Pausing: this platform cannot suspend a thread from outside, and stopping
// one with a signal at an arbitrary point could leave a lock or the heap
// half-changed. The scan thread instead stops at a gate that every message
// send and every file read passes through; every long loop of the engine
// sends or reads, so the thread stops close to where it stands and goes on
// from exactly there. Only the scan thread waits at the gate; a stop request
// opens it so that a paused scan can still be stopped.
void WaitWhilePaused() {
    ThreadControl& c = control();
    if (!c.paused.load()) return;
    std::unique_lock<std::mutex> guard(c.lock);
    if (std::this_thread::get_id() != c.scanThread) return;
    c.pauseChanged.wait(guard, [&] { return !c.paused || RunFlag() == 0; });
}

int32_t ReadMachineValue(const char16_t* subKey, const char16_t* valueName, void* buffer,
                         uint32_t* size) {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, subKey, key) != 0) return 0;
    uint32_t result = key.queryValue(valueName, nullptr, buffer, size);
    if (result == platform::kErrorFileNotFound || result == platform::kErrorMoreData) return 1;
    return static_cast<int32_t>(result);
}

int32_t ReadSettingFlag(const char16_t* valueName) {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    ReadMachineValue(names::kSettingsKey, valueName, &value, &size);
    return value == 1 ? 1 : 0;
}

int32_t EnablePrivilege(const char16_t* name) {
    return platform::enablePrivilege(name) == 0 ? 1 : 0;
}

int32_t StartOVScan(ScanRequest* request) {
    if (!request) return 0;
    std::lock_guard<std::mutex> oneScan(g_oneScanAtATime);
    g_request = request;

    if (request->scanType == names::kScanTypeFull)
        SendOVMsg(SCANMSG_SCAN_STARTED, u"Full System Scout started...");
    else if (request->scanType == names::kScanTypeCustom)
        SendOVMsg(SCANMSG_SCAN_STARTED, u"Custom System Scout started...");
    else
        SendOVMsg(SCANMSG_SCAN_STARTED, u"Threat Scout started...");

    for (const char16_t* privilege : kPrivileges) {
        if (!EnablePrivilege(privilege)) {
            SendOVMsg(SCANMSG_STATUS, u"no privilege error");
            ReleaseScanRun();
            return 0;
        }
    }

    if (!AllocateInfectionTable()) {
        SendOVMsg(SCANMSG_STATUS, u"Memory Allocation Error!");
        ReleaseScanRun();
        return 0;
    }

    // The program folder becomes the working directory, so that the
    // database's relative path resolves against the installation.
    char16_t installPath[256] = {};
    uint32_t size = sizeof installPath;
    int32_t pathResult =
        ReadMachineValue(names::kProductKey, names::kValuePath, installPath, &size);
    installPath[255] = 0;
    if (pathResult == 0 && installPath[0]) (void)platform::setCurrentDirectory(installPath);
    SendOVMsg(SCANMSG_DEBUG, u" LoadDbFileData Current Dir: %s", installPath);

    if (!LoadDbFileData()) {
        SendOVMsg(SCANMSG_STATUS, u"unable to load db file!");
        ReleaseScanRun();
        return 0;
    }
    UnscrambleDbText();
    LoadUnzipRes();  // without an archiver only the extraction of archives fails

    ThreadControl& c = control();
    std::thread scanThread;
    uint32_t threadError = 0;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        // The flag is raised before the thread exists, so a stop that comes
        // at once is never overwritten by the starting thread. The thread
        // waits for this lock at its first message, so its id is known by then.
        g_runFlag = 1;
        c.paused = false;
        try {
            scanThread = std::thread(ScanThreadProc, request);
            c.scanThread = scanThread.get_id();
            c.state = ThreadState::Running;
        } catch (const std::system_error& e) {
            g_runFlag = 0;
            threadError = platform::errorFromErrno(e.code().value());
            if (threadError == 0) threadError = platform::kErrorNotEnoughMemory;
        }
    }
    if (!scanThread.joinable()) {
        SendOVMsg(SCANMSG_STATUS, u"Scan thread error %d", static_cast<int>(threadError));
        ReleaseScanRun();
        return 0;
    }
    SendOVMsg(SCANMSG_STATUS, u"Scan thread started");

    scanThread.join();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        c.state = ThreadState::None;
        c.paused = false;
        c.scanThread = std::thread::id();
    }
    UnloadOVData();
    SendOVMsg(SCANMSG_SCAN_ENDED, u"scan ended");
    ReleaseScanRun();
    return pathResult;
}

int32_t StopOV() {
    ThreadControl& c = control();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        if (c.state == ThreadState::None) return 0;
        if (c.state != ThreadState::Running) return 1;
        g_runFlag = 0;
        c.pauseChanged.notify_all();
    }
    SendOVMsg(SCANMSG_DEBUG, u"User Stop The Scan");
    return 1;
}

int32_t PauseOV() {
    ThreadControl& c = control();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.state == ThreadState::None) return 0;
    if (c.state == ThreadState::Running) c.paused = true;
    return 1;
}

int32_t ResumeOV() {
    ThreadControl& c = control();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.state == ThreadState::None) return 0;
    if (c.state == ThreadState::Running) {
        c.paused = false;
        c.pauseChanged.notify_all();
    }
    return 1;
}
