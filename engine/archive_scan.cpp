// Archive scanning: one ZIP, CAB or 7z archive is extracted with the
// installed 7-Zip console program into a fresh private folder, the folder is
// walked like any other, and removed again.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

// How deep archives inside archives are followed. Real nests (an installer
// in a ZIP in a mail archive) are two or three levels deep; every level keeps
// its extracted tree on disk while the levels below it are walked, and an
// archive that holds itself (or a copy of itself) would otherwise never end.
// Eight levels cover every honest nest and bound disk use and time.
constexpr int kMaxArchiveDepth = 8;

// Files of 5 MiB and more are never hashed (the file scanner skips them), so
// the archiver may write no larger file: the limit costs nothing and keeps
// one huge member from filling the disk.
constexpr uint64_t kMaxExtractedFileBytes = 5u * 1024u * 1024u;

// Wall-clock budget for the extraction of one archive (all its attempts).
constexpr std::chrono::seconds kExtractionTimeLimit{120};

// Wall-clock budget for an archive found on disk together with every archive
// nested in it. A nest of many archives at each level (the classic archive
// bomb) would otherwise cost an extraction per member for hours; once the
// budget is spent, archives nested in it are no longer extracted.
constexpr std::chrono::seconds kNestTimeLimit{600};

// 7-Zip ends an extraction at the first write that fails, so a member at the
// size limit would hide every member behind it. Such a member is left out
// and the archive extracted again; at most this many times per archive.
constexpr int kMaxExtractionAttempts = 8;

// Archives being walked on this thread right now (the scan thread), and when
// the outermost of them must be done.
thread_local int t_archiveDepth = 0;
thread_local std::chrono::steady_clock::time_point t_nestDeadline;

class DepthGuard {
public:
    DepthGuard() {
        if (t_archiveDepth++ == 0) {
            t_nestDeadline = std::chrono::steady_clock::now() + kNestTimeLimit;
        }
    }
    ~DepthGuard() { --t_archiveDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

// A private output folder that is removed with everything in it when it goes.
class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder() { remove(); }
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    uint32_t create() {
        remove();
        return platform::createPrivateTempFolder(u"ov_", m_path);
    }
    void remove() {
        if (m_path.empty()) return;
        uint32_t result = platform::removeTree(m_path);
        if (result != 0) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] DoScanInArchive::remove %s failed (%d)",
                      m_path.c_str(), static_cast<int>(result));
        }
        m_path.clear();
    }
    const std::u16string& path() const { return m_path; }

private:
    std::u16string m_path;
};

// The command as a text for the trace; arguments with blanks are shown quoted.
std::u16string commandText(const std::vector<std::string>& argv) {
    std::u16string text;
    for (const auto& arg : argv) {
        if (!text.empty()) text += u' ';
        const std::u16string wide = platform::toUtf16(arg);
        if (arg.find(' ') != std::string::npos) {
            text += u'"' + wide + u'"';
        } else {
            text += wide;
        }
    }
    return text;
}

// Paths (relative, '/'-separated, as the archive names them) of the regular
// files under folder that reached the size limit. Links are not followed.
void collectOversized(const std::u16string& folder, const std::string& relative,
                      std::vector<std::string>& out) {
    platform::FindFile find;
    platform::FindData entry;
    if (platform::FindFile::first(platform::joinPath(folder, u"*"), find, entry) != 0) return;
    do {
        if (entry.name == u"." || entry.name == u"..") continue;
        const std::string name = relative + platform::toUtf8(entry.name);
        if (entry.attributes & (platform::kAttrReparsePoint | platform::kAttrDevice)) continue;
        if (entry.attributes & platform::kAttrDirectory) {
            collectOversized(platform::joinPath(folder, entry.name), name + "/", out);
        } else if (entry.size >= kMaxExtractedFileBytes) {
            out.push_back(name);
        }
    } while (find.next(entry) == 0);
}

enum class Extraction { Done, CannotStart, NoOutputFolder, Stopped, TimedOut };

// Runs the archiver until the archive is out, leaving out members that hit
// the size limit. output is recreated for each attempt: 7-Zip follows a link
// already present in its output folder, so it always writes into a new one.
Extraction extract(const std::string& archiveHost, OutputFolder& output) {
    const auto deadline =
        std::min(std::chrono::steady_clock::now() + kExtractionTimeLimit, t_nestDeadline);
    const std::string tempHost = platform::toHostPath(TempFolderPath());
    std::vector<std::string> leftOut;

    for (int attempt = 1;; ++attempt) {
        if (attempt > 1 && output.create() != 0) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] DoScanInArchive::create output folder failed");
            return Extraction::NoOutputFolder;
        }
        const std::string outputHost = platform::toHostPath(output.path());
        // x: extract with paths; -y: answer every question yes; -bd: no
        // progress output; -p-: a fixed password, so an encrypted archive
        // fails instead of asking; -spd: names are names, never wildcards;
        // "--" ends the switches, so no archive name is read as one.
        std::vector<std::string> argv = {ArchiverPath(), "x", "-y", "-bd", "-p-", "-spd"};
        for (const auto& member : leftOut) argv.push_back("-x!" + member);
        argv.push_back("-o" + outputHost);
        argv.push_back("--");
        argv.push_back(archiveHost);
        SendOVMsg(SCANMSG_DEBUG, u"CMD: %s", commandText(argv).c_str());
        SendOVMsg(SCANMSG_DEBUG, u"TMPDIR: %s", output.path().c_str());

        platform::SpawnOptions options;
        options.workingDirectory = tempHost;
        options.maxFileSizeBytes = kMaxExtractedFileBytes;
        platform::ChildProcess archiver;
        if (ArchiverPath().empty() || outputHost.empty() ||
            platform::ChildProcess::spawn(argv, options, archiver) != 0) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] ExtractDlFile::create process failed");
            return Extraction::CannotStart;
        }

        const auto now = std::chrono::steady_clock::now();
        const auto left =
            deadline > now ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)
                           : std::chrono::milliseconds(0);
        const uint32_t waited = archiver.wait(left, [] { return RunFlag() == 0; });
        if (waited == platform::kErrorWaitTimeout) {
            SendOVMsg(SCANMSG_DEBUG,
                      u"DoScanInArchive:: extraction ran out of time and was stopped, only what "
                      u"was extracted is scanned: %s",
                      platform::toUtf16(archiveHost).c_str());
            return Extraction::TimedOut;
        }
        if (waited != 0) return Extraction::Stopped;
        const uint32_t exitCode = archiver.exitCode();
        if (exitCode == 0) return Extraction::Done;

        SendOVMsg(SCANMSG_DEBUG, u"DoScanInArchive:: archiver exit code %d",
                  static_cast<int>(exitCode));
        std::vector<std::string> oversized;
        collectOversized(output.path(), "", oversized);
        bool newMember = false;
        for (const auto& member : oversized) {
            bool known = false;
            for (const auto& done : leftOut) known = known || done == member;
            if (!known) {
                leftOut.push_back(member);
                newMember = true;
            }
        }
        if (!newMember) return Extraction::Done;  // another error: scan what came out
        if (attempt >= kMaxExtractionAttempts) {
            SendOVMsg(SCANMSG_DEBUG,
                      u"DoScanInArchive:: too many large members, the rest is not scanned");
            return Extraction::Done;
        }
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: members of 5 MiB or more are left out, extracting again");
    }
}

}  // namespace

int32_t DoScanInArchive(const char16_t* path) {
    SendOVMsg(SCANMSG_DEBUG, u"DoScanInArchive::Extracting Files, Please wait...");
    if (path == nullptr || RunFlag() == 0) return 0;
    if (t_archiveDepth >= kMaxArchiveDepth) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: nested deeper than %d archives, not extracted: %s",
                  kMaxArchiveDepth, path);
        return 0;
    }
    if (t_archiveDepth > 0 && std::chrono::steady_clock::now() >= t_nestDeadline) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: time for this nest of archives is spent, not extracted: %s",
                  path);
        return 0;
    }
    DepthGuard depth;

    const std::string archiveHost = platform::toHostPath(path);
    if (archiveHost.empty()) {
        SendOVMsg(SCANMSG_DEBUG, u" [ERROR] ExtractDlFile::create process failed");
        return 0;
    }
    OutputFolder output;
    if (uint32_t result = output.create(); result != 0) {
        SendOVMsg(SCANMSG_DEBUG, u" [ERROR] DoScanInArchive::create output folder failed (%d)",
                  static_cast<int>(result));
        return 0;
    }

    switch (extract(archiveHost, output)) {
        case Extraction::CannotStart:
            return 0;
        case Extraction::NoOutputFolder:
            return 1;
        case Extraction::Stopped:
            SendOVMsg(SCANMSG_DEBUG, u"DoScanInArchive:: stopped: %s", path);
            return 1;
        case Extraction::TimedOut:
        case Extraction::Done:
            break;
    }

    // The extracted tree is walked with the smart filter on, then removed.
    FindF(output.path().c_str(), 1);
    SendOVMsg(SCANMSG_DEBUG, u" ExtractDlFile:: Ended OK, Search Path: %s", output.path().c_str());
    return 1;
}
