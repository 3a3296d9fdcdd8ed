// Archive scanning: one ZIP, CAB or 7z archive is extracted with the
// installed 7-Zip console program into a fresh private folder, the folder is
// walked like any other, and removed again.
//
// The archiver parses hostile bytes, so it runs confined: as a user id of
// its own that owns nothing but its output folder, without capabilities,
// with a minimal environment, told the archive's type, and killed with the
// scan. Everything a nest of archives (one archive on disk and every archive
// inside it) extracts is weighed against one budget of bytes and files, and
// the file system's free space is watched while the archiver writes.
#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
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
constexpr std::chrono::milliseconds kExtractionTimeLimit = std::chrono::seconds(120);

// Wall-clock budget for an archive found on disk together with every archive
// nested in it. A nest of many archives at each level (the classic archive
// bomb) would otherwise cost an extraction per member for hours; once the
// budget is spent, archives nested in it are no longer extracted.
constexpr std::chrono::milliseconds kNestTimeLimit = std::chrono::seconds(600);

// The two time limits in force (tests shorten them).
std::chrono::milliseconds g_extractionTimeLimit = kExtractionTimeLimit;
std::chrono::milliseconds g_nestTimeLimit = kNestTimeLimit;

// 7-Zip ends an extraction at the first write that fails, so a member at the
// size limit would hide every member behind it. Such a member is left out
// and the archive extracted again; at most this many times per archive.
constexpr int kMaxExtractionAttempts = 8;

// Budget of one nest of archives: what all its extractions together may
// write. 400 MB and 10,000 files hold every honest nest (a large installer
// bundle, a mail archive) and keep a small archive that unpacks to
// gigabytes (the classic bomb) from filling the disk.
constexpr uint64_t kNestBudgetBytes = 400ull * 1000 * 1000;
constexpr uint64_t kNestBudgetFiles = 10000;

// Extraction starts only with this much free space and is stopped when the
// free space falls below it, whatever is left of the budget.
constexpr uint64_t kMinFreeBytes = 64ull * 1024 * 1024;

// How often the output folder is weighed while the archiver runs.
constexpr auto kWeighInterval = std::chrono::milliseconds(20);

// One archive being walked on this thread (the scan thread): its path as
// it was handed over and the folder it is extracted into.
struct Frame {
    std::u16string archive;
    std::u16string output;
};

// Archives being walked on this thread right now, outermost first; when the
// outermost of them must be done, and what its nest has extracted so far.
thread_local std::vector<Frame> t_frames;
thread_local std::chrono::steady_clock::time_point t_nestDeadline;
thread_local uint64_t t_nestBytes = 0;
thread_local uint64_t t_nestFiles = 0;

class DepthGuard {
public:
    explicit DepthGuard(const char16_t* archive) {
        if (t_frames.empty()) {
            t_nestDeadline = std::chrono::steady_clock::now() + g_nestTimeLimit;
            t_nestBytes = 0;
            t_nestFiles = 0;
        }
        t_frames.push_back({archive, {}});
    }
    ~DepthGuard() { t_frames.pop_back(); }
    void setOutput(const std::u16string& output) { t_frames.back().output = output; }
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
        const std::u16string& parent = ExtractionFolderPath();
        if (parent.empty()) return platform::kErrorPathNotFound;
        return platform::createPrivateFolder(parent, u"ov_", m_path);
    }
    void remove() {
        if (m_path.empty()) return;
        // The tree belongs to the archiver's user: removed with the rights
        // the scan thread gave up.
        uint32_t result = 0;
        RunWithSetupRights([&] { result = platform::removeTree(m_path); });
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

// What an extracted tree holds: its regular files' bytes and its entries.
struct Weight {
    uint64_t bytes = 0;
    uint64_t files = 0;
};

void weigh(const std::u16string& folder, Weight& weight, int depth = 0) {
    platform::FindFile find;
    platform::FindData entry;
    if (depth > 64) return;
    if (platform::FindFile::first(platform::joinPath(folder, u"*"), find, entry,
                                  platform::FindFile::Detail::NoHiddenOrSystem) != 0)
        return;
    do {
        if (entry.name == u"." || entry.name == u"..") continue;
        ++weight.files;
        if (entry.attributes & (platform::kAttrReparsePoint | platform::kAttrDevice)) continue;
        if (entry.attributes & platform::kAttrDirectory) {
            weigh(platform::joinPath(folder, entry.name), weight, depth + 1);
        } else {
            weight.bytes += entry.size;
        }
    } while (find.next(entry) == 0);
}

bool budgetSpent(uint64_t nestBytes, uint64_t nestFiles, const Weight& extra) {
    return nestBytes + extra.bytes >= kNestBudgetBytes ||
           nestFiles + extra.files >= kNestBudgetFiles;
}

bool budgetSpent(const Weight& extra) { return budgetSpent(t_nestBytes, t_nestFiles, extra); }

int freeMegabytes(uint64_t bytes) { return static_cast<int>(bytes / (1024 * 1024)); }

// The archive type 7-Zip is told, from the extension the walker matched,
// so that a file named .zip is never parsed as any other format.
const char* archiveTypeSwitch(std::u16string_view path) {
    auto endsIn = [path](std::u16string_view tail) {
        return path.size() >= tail.size() &&
               platform::equalsIgnoreCase(path.substr(path.size() - tail.size()), tail);
    };
    if (endsIn(u"zip")) return "-tzip";
    if (endsIn(u"cab")) return "-tcab";
    if (endsIn(u"7z")) return "-t7z";
    return nullptr;
}

enum class Extraction {
    Done,
    CannotStart,
    NoOutputFolder,
    Stopped,
    TimedOut,
    OverBudget,
    LowSpace
};

// Runs the archiver until the archive is out, leaving out members that hit
// the size limit. output is recreated for each attempt: 7-Zip follows a link
// already present in its output folder, so it always writes into a new one.
Extraction extract(const std::u16string& archive, const std::string& archiveHost,
                   OutputFolder& output, DepthGuard& frame) {
    const auto deadline =
        std::min(std::chrono::steady_clock::now() + g_extractionTimeLimit, t_nestDeadline);
    const char* type = archiveTypeSwitch(archive);
    std::vector<std::string> leftOut;

    for (int attempt = 1;; ++attempt) {
        if (attempt > 1 && output.create() != 0) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] DoScanInArchive::create output folder failed");
            return Extraction::NoOutputFolder;
        }
        frame.setOutput(output.path());
        const std::string outputHost = platform::toHostPath(output.path());
        // x: extract with paths; -y: answer every question yes; -bd: no
        // progress output; -p-: a fixed password, so an encrypted archive
        // fails instead of asking; -spd: names are names, never wildcards;
        // -t: the one format the archive may be; -o.: into the working
        // folder, which is the output folder; "--" ends the switches, so no
        // archive name is read as one. The archive is handed over open.
        std::vector<std::string> argv = {ArchiverPath(), "x", "-y", "-bd", "-p-", "-spd"};
        if (type) argv.push_back(type);
        for (const auto& member : leftOut) argv.push_back("-x!" + member);
        argv.push_back("-o.");
        argv.push_back("--");
        argv.push_back(platform::kInputFileArgument);
        std::vector<std::string> shown = argv;
        shown.back() = archiveHost;
        SendOVMsg(SCANMSG_DEBUG, u"CMD: %s", commandText(shown).c_str());
        SendOVMsg(SCANMSG_DEBUG, u"TMPDIR: %s", output.path().c_str());

        platform::SpawnOptions options;
        options.confine = true;
        options.ownFolder = outputHost;
        options.inputFile = archiveHost;
        options.maxInputCopyBytes = kNestBudgetBytes;
        options.maxFileSizeBytes = kMaxExtractedFileBytes;
        if (ArchiverPath().empty() || outputHost.empty() || type == nullptr) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] ExtractDlFile::create process failed");
            return Extraction::CannotStart;
        }

        // Weighed while the archiver writes: the nest's budget and the
        // file system's free space end it, as the run flag does.
        Extraction stopReason = Extraction::Stopped;
        uint64_t freeBytes = 0;
        auto lastWeighed = std::chrono::steady_clock::now();
        const std::u16string folder = output.path();
        const uint64_t nestBytes = t_nestBytes;
        const uint64_t nestFiles = t_nestFiles;
        auto shouldStop = [&]() {
            if (RunFlag() == 0) return true;
            const auto now = std::chrono::steady_clock::now();
            if (now - lastWeighed < kWeighInterval) return false;
            lastWeighed = now;
            if (platform::diskFreeBytes(folder, freeBytes) == 0 && freeBytes < kMinFreeBytes) {
                stopReason = Extraction::LowSpace;
                return true;
            }
            Weight weight;
            weigh(folder, weight);
            if (budgetSpent(nestBytes, nestFiles, weight)) {
                stopReason = Extraction::OverBudget;
                return true;
            }
            return false;
        };

        const auto now = std::chrono::steady_clock::now();
        const auto left =
            deadline > now ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)
                           : std::chrono::milliseconds(0);
        // Started, waited for and ended with the rights the scan thread
        // gave up: to run it as a user of its own, and to end that user's
        // processes.
        uint32_t started = 0;
        uint32_t waited = 0;
        uint32_t exitCode = 0;
        RunWithSetupRights([&] {
            platform::ChildProcess archiver;
            started = platform::ChildProcess::spawn(argv, options, archiver);
            if (started != 0) return;
            waited = archiver.wait(left, shouldStop);
            exitCode = archiver.exitCode();
        });
        if (started != 0) {
            SendOVMsg(SCANMSG_DEBUG, u" [ERROR] ExtractDlFile::create process failed");
            return Extraction::CannotStart;
        }
        if (waited == platform::kErrorWaitTimeout) {
            SendOVMsg(SCANMSG_DEBUG,
                      u"DoScanInArchive:: extraction ran out of time and was stopped, only what "
                      u"was extracted is scanned: %s",
                      platform::toUtf16(archiveHost).c_str());
            return Extraction::TimedOut;
        }
        if (waited != 0 && stopReason == Extraction::OverBudget) {
            SendOVMsg(SCANMSG_DEBUG,
                      u"DoScanInArchive:: extraction reached the budget of this nest of archives "
                      u"(%d MB, %d files) and was stopped, only what was extracted is scanned: %s",
                      static_cast<int>(kNestBudgetBytes / 1000000),
                      static_cast<int>(kNestBudgetFiles), archive.c_str());
            return Extraction::OverBudget;
        }
        if (waited != 0 && stopReason == Extraction::LowSpace) {
            SendOVMsg(SCANMSG_DEBUG,
                      u"DoScanInArchive:: free space ran low (%d MB free), extraction was "
                      u"stopped, only what was extracted is scanned: %s",
                      freeMegabytes(freeBytes), archive.c_str());
            return Extraction::LowSpace;
        }
        if (waited != 0) return Extraction::Stopped;
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

// Replaces what would break the report line or the results list's reading
// of it: line and control characters, the brackets that close the location,
// and "HKEY_", which would make the location read as a registry place.
std::u16string memberText(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
            out += u'?';
        } else if (c == u'[') {
            out += u'(';
        } else if (c == u']') {
            out += u')';
        } else if (c == u'_' && out.size() >= 4 &&
                   platform::equalsIgnoreCase(std::u16string_view(out).substr(out.size() - 4),
                                              u"HKEY")) {
            out += u'-';
        } else {
            out += c;
        }
    }
    return out;
}

// The part of path inside folder ("docs\a.exe"); false when it is not inside.
bool relativeTo(std::u16string_view path, std::u16string_view folder, std::u16string& out) {
    if (folder.empty() || path.size() <= folder.size() + 1) return false;
    if (!platform::equalsIgnoreCase(path.substr(0, folder.size()), folder)) return false;
    const char16_t separator = path[folder.size()];
    if (separator != u'\\' && separator != u'/') return false;
    out = path.substr(folder.size() + 1);
    return true;
}

}  // namespace

void SetArchiveTimeLimits(std::chrono::milliseconds extraction, std::chrono::milliseconds nest) {
    g_extractionTimeLimit = extraction;
    g_nestTimeLimit = nest;
}

void ResetArchiveTimeLimits() {
    g_extractionTimeLimit = kExtractionTimeLimit;
    g_nestTimeLimit = kNestTimeLimit;
}

FindingName::FindingName(const char16_t* name, const char16_t* extra)
    : m_givenName(name), m_givenExtra(extra) {
    if (name == nullptr || t_frames.empty()) return;
    // The innermost archive whose output holds the file, then outwards: each
    // archive lies in the output of the one around it.
    std::u16string inside;
    size_t level = t_frames.size();
    while (level > 0 && !relativeTo(name, t_frames[level - 1].output, inside)) --level;
    if (level == 0) return;
    std::u16string chain = memberText(inside);
    for (--level; level > 0; --level) {
        if (!relativeTo(t_frames[level].archive, t_frames[level - 1].output, inside)) return;
        chain = memberText(inside) + u" > " + chain;
    }
    m_name = t_frames[0].archive;
    m_location = u"archive member: " + chain;
    if (extra != nullptr && extra[0] != 0) m_location += u" " + memberText(extra);
    m_inArchive = true;
}

int32_t DoScanInArchive(const char16_t* path) {
    SendOVMsg(SCANMSG_DEBUG, u"DoScanInArchive::Extracting Files, Please wait...");
    if (path == nullptr || RunFlag() == 0) return 0;
    if (t_frames.size() >= static_cast<size_t>(kMaxArchiveDepth)) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: nested deeper than %d archives, not extracted: %s",
                  kMaxArchiveDepth, path);
        return 0;
    }
    if (!t_frames.empty() && std::chrono::steady_clock::now() >= t_nestDeadline) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: time for this nest of archives is spent, not extracted: %s",
                  path);
        return 0;
    }
    if (!t_frames.empty() && budgetSpent(Weight{})) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: the budget of this nest of archives (%d MB, %d files) is "
                  u"spent, not extracted: %s",
                  static_cast<int>(kNestBudgetBytes / 1000000), static_cast<int>(kNestBudgetFiles),
                  path);
        return 0;
    }
    DepthGuard depth(path);

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
    uint64_t freeBytes = 0;
    if (platform::diskFreeBytes(output.path(), freeBytes) == 0 && freeBytes < kMinFreeBytes) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: too little free space for the extraction (%d MB free), not "
                  u"extracted: %s",
                  freeMegabytes(freeBytes), path);
        return 0;
    }

    const Extraction result = extract(path, archiveHost, output, depth);
    switch (result) {
        case Extraction::CannotStart:
            return 0;
        case Extraction::NoOutputFolder:
            return 1;
        case Extraction::Stopped:
            SendOVMsg(SCANMSG_DEBUG, u"DoScanInArchive:: stopped: %s", path);
            return 1;
        case Extraction::TimedOut:
        case Extraction::OverBudget:
        case Extraction::LowSpace:
        case Extraction::Done:
            break;
    }
    Weight weight;
    weigh(output.path(), weight);
    // An archiver quicker than the weighing during its run can finish past
    // the budget; the nest is then spent all the same, and the trace says so.
    if (result == Extraction::Done && budgetSpent(weight)) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"DoScanInArchive:: extraction reached the budget of this nest of archives "
                  u"(%d MB, %d files), what was extracted is scanned: %s",
                  static_cast<int>(kNestBudgetBytes / 1000000),
                  static_cast<int>(kNestBudgetFiles), path);
    }
    t_nestBytes += weight.bytes;
    t_nestFiles += weight.files;

    // The extracted tree is walked with the smart filter on, then removed.
    FindF(output.path().c_str(), 1);
    SendOVMsg(SCANMSG_DEBUG, u" ExtractDlFile:: Ended OK, Search Path: %s", output.path().c_str());
    return 1;
}
