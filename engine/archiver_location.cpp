// The archiver of a scan run: the installed 7-Zip console program, taken
// only from where the package installs it and only when no one but root can
// change it, and only in a version that keeps what it extracts inside its
// output folder. Nothing is written into the shared temp folder, and PATH
// is never searched, so no other user can put a program of theirs in its
// place.
//
// The run also gets its extraction folder here: a private folder of this
// scan inside the user's scratch folder (for root, in the runtime folder,
// never in a $TMPDIR someone else may own). Folders that a scan left behind
// when it was killed are removed first.
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

std::u16string g_tempFolder;
std::u16string g_extractionFolder;
std::string g_archiver;

// 7zz is the full console program of the 7zip package; its other names are
// those the package installs beside it on later releases.
const std::vector<std::string> kArchiverPaths = {"/usr/bin/7zz", "/usr/bin/7z", "/usr/bin/7za"};
std::vector<std::string> g_archiverPaths = kArchiverPaths;

// 7-Zip 25.01 is the first release that refuses to write through, or to
// create, a link that leads out of its output folder (earlier releases could
// be made to write anywhere by an archive holding such a link).
constexpr int kMinimumMajor = 25;
constexpr int kMinimumMinor = 1;

constexpr size_t kTempPathUnits = 260;
constexpr auto kVersionCheckTime = std::chrono::seconds(10);

constexpr char16_t kScanFolderPrefix[] = u"scan-";

// "7-Zip (z) 26.02 (x64) : Copyright ..." or "7-Zip [64] 16.02 : ...": the
// first number with a dot after the program's name.
bool parseVersion(const std::string& banner, int& major, int& minor) {
    size_t at = banner.find("7-Zip");
    if (at == std::string::npos) return false;
    for (size_t i = at + 5; i < banner.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(banner[i]))) continue;
        if (i > 0 && (std::isalnum(static_cast<unsigned char>(banner[i - 1])))) continue;
        size_t end = i;
        while (end < banner.size() && std::isdigit(static_cast<unsigned char>(banner[end]))) ++end;
        if (end >= banner.size() || banner[end] != '.') continue;
        size_t minorEnd = end + 1;
        while (minorEnd < banner.size() &&
               std::isdigit(static_cast<unsigned char>(banner[minorEnd])))
            ++minorEnd;
        if (minorEnd == end + 1) continue;
        major = std::atoi(banner.substr(i, end - i).c_str());
        minor = std::atoi(banner.substr(end + 1, minorEnd - end - 1).c_str());
        return true;
    }
    return false;
}

// The program's banner, from a run as confined as the extractions are.
bool archiverVersion(const std::string& program, std::string& shown, int& major, int& minor) {
    platform::SpawnOptions options;
    options.confine = true;
    options.workingDirectory = "/";
    std::string output;
    uint32_t exitCode = 0;
    if (platform::runForOutput({program}, options, kVersionCheckTime, output, exitCode) != 0)
        return false;
    if (!parseVersion(output, major, minor)) return false;
    shown = std::to_string(major) + "." + (minor < 10 ? "0" : "") + std::to_string(minor);
    return true;
}

// Removes the folders of scans that are no longer running (this process
// runs one scan at a time, so its own are left over too).
void removeLeftovers(const std::u16string& scratch) {
    platform::FindFile find;
    platform::FindData entry;
    if (platform::FindFile::first(platform::joinPath(scratch, u"*"), find, entry) != 0) return;
    const uint32_t self = platform::currentProcessId();
    do {
        if (entry.name == u"." || entry.name == u"..") continue;
        const std::u16string_view name(entry.name);
        bool leftover = false;
        if (name.substr(0, 5) == kScanFolderPrefix) {
            const std::string digits = platform::toUtf8(name.substr(5));
            char* end = nullptr;
            const unsigned long pid = std::strtoul(digits.c_str(), &end, 10);
            leftover = digits.empty() || *end != 0 || pid == self ||
                       !platform::probeProcess(static_cast<uint32_t>(pid));
        } else {
            leftover = name.substr(0, 3) == u"ov_";
        }
        if (!leftover) continue;
        const std::u16string path = platform::joinPath(scratch, entry.name);
        const uint32_t result = platform::removeTree(path);
        SendOVMsg(SCANMSG_DEBUG, u" LoadUnzipRes::removed what a stopped scan left: %s (%d)",
                  path.c_str(), static_cast<int>(result));
    } while (find.next(entry) == 0);
}

// The private extraction folder of this scan run; empty when none can be made.
std::u16string prepareExtractionFolder() {
    const std::string scratchHost = platform::scratchFolderHost();
    if (scratchHost.empty()) return {};
    const std::u16string scratch = platform::toWindowsPath(scratchHost);
    if (scratch.empty()) return {};
    removeLeftovers(scratch);
    const std::u16string folder = platform::joinPath(
        scratch,
        kScanFolderPrefix + platform::toUtf16(std::to_string(platform::currentProcessId())));
    if (platform::createDirectory(folder) != 0) return {};
    return folder;
}

// The thread that keeps the rights of the scan run's setup for the work of
// RunWithSetupRights, one piece of work at a time.
class SetupRightsThread {
public:
    SetupRightsThread() : m_thread([this] { serve(); }) {}
    ~SetupRightsThread() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_ending = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    SetupRightsThread(const SetupRightsThread&) = delete;
    SetupRightsThread& operator=(const SetupRightsThread&) = delete;

    bool isThisThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

    void run(const std::function<void()>& work) {
        std::unique_lock<std::mutex> guard(m_lock);
        m_wake.wait(guard, [this] { return m_work == nullptr; });
        m_work = &work;
        m_done = false;
        m_wake.notify_all();
        m_wake.wait(guard, [this] { return m_done; });
        m_work = nullptr;
        m_wake.notify_all();
    }

private:
    void serve() {
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [this] { return m_ending || (m_work != nullptr && !m_done); });
            if (m_work == nullptr || m_done) return;  // ending with nothing to do
            const std::function<void()>* work = m_work;
            guard.unlock();
            (*work)();
            guard.lock();
            m_done = true;
            m_wake.notify_all();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    const std::function<void()>* m_work = nullptr;
    bool m_done = false;
    bool m_ending = false;
    std::thread m_thread;
};

std::unique_ptr<SetupRightsThread> g_setupRights;

}  // namespace

void RunWithSetupRights(const std::function<void()>& work) {
    if (!g_setupRights || g_setupRights->isThisThread()) {
        work();
        return;
    }
    g_setupRights->run(work);
}

const std::u16string& TempFolderPath() { return g_tempFolder; }
const std::u16string& ExtractionFolderPath() { return g_extractionFolder; }
const std::string& ArchiverPath() { return g_archiver; }

void SetArchiverCandidates(std::vector<std::string> paths) { g_archiverPaths = std::move(paths); }
void ResetArchiverCandidates() { g_archiverPaths = kArchiverPaths; }

void ForgetUnzipRes() {
    g_setupRights.reset();
    if (!g_extractionFolder.empty()) {
        const uint32_t result = platform::removeTree(g_extractionFolder);
        if (result != 0 && result != platform::kErrorPathNotFound &&
            result != platform::kErrorFileNotFound) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] LoadUnzipRes::remove %s failed (%d)",
                      g_extractionFolder.c_str(), static_cast<int>(result));
        }
    }
    g_tempFolder.clear();
    g_extractionFolder.clear();
    g_archiver.clear();
}

int32_t LoadUnzipRes() {
    ForgetUnzipRes();
    std::u16string temp = platform::tempPath();
    if (temp.empty() || temp.size() >= kTempPathUnits) {
        SendOVMsg(SCANMSG_DEBUG, u" [ERROR] LoadUnzipRes::get temp path failed");
        return 0;
    }
    g_tempFolder = temp;
    SendOVMsg(SCANMSG_DEBUG, u" [DEBUG] LoadUnzipRes::Temp Path: %s", g_tempFolder.c_str());

    // Started here, on the thread that sets the scan run up, before the
    // scan thread gives up the rights the archiver's start needs.
    g_setupRights = std::make_unique<SetupRightsThread>();
    g_extractionFolder = prepareExtractionFolder();
    if (g_extractionFolder.empty()) {
        SendOVMsg(SCANMSG_DEBUG,
                  u" [ERROR] LoadUnzipRes::no private extraction folder could be made");
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u" [DEBUG] LoadUnzipRes::Extraction folder: %s",
              g_extractionFolder.c_str());

    for (const std::string& candidate : g_archiverPaths) {
        const std::u16string shown = platform::toUtf16(candidate);
        const uint32_t trusted = platform::checkTrustedProgram(candidate);
        if (trusted == platform::kErrorFileNotFound) continue;
        if (trusted != 0) {
            SendOVMsg(SCANMSG_DEBUG,
                      u" [ERROR] LoadUnzipRes::%s refused: it or its folder is not root's alone",
                      shown.c_str());
            continue;
        }
        std::string version;
        int major = 0;
        int minor = 0;
        if (!archiverVersion(candidate, version, major, minor)) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] LoadUnzipRes::%s refused: no 7-Zip version shown",
                      shown.c_str());
            continue;
        }
        if (major < kMinimumMajor || (major == kMinimumMajor && minor < kMinimumMinor)) {
            SendOVMsg(SCANMSG_DEBUG,
                      u" [ERROR] LoadUnzipRes::%s refused: 7-Zip %s is older than 25.01, the "
                      u"first that keeps links inside its output folder",
                      shown.c_str(), platform::toUtf16(version).c_str());
            continue;
        }
        g_archiver = candidate;
        SendOVMsg(SCANMSG_DEBUG, u" [DEBUG] LoadUnzipRes::7-Zip version %s",
                  platform::toUtf16(version).c_str());
        SendOVMsg(SCANMSG_DEBUG, u" LoadUnzipRes::Ended OK, EXE: %s", shown.c_str());
        return 1;
    }
    SendOVMsg(SCANMSG_DEBUG, u" [ERROR] LoadUnzipRes::find resource failed (%d)",
              static_cast<int>(platform::kErrorFileNotFound));
    return 0;
}
