// The folder walker: every folder-based scan (threat-scan locations, full
// scan, custom folder) hands its files to the file scanner through FindF,
// with the smart extension filter and the archive hand-off.
#include <algorithm>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/read_ahead.h"
#include "engine/walker_paths.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

// The checks lower-case at most this many units of a path, the size of the
// walker's path buffers.
constexpr size_t kPathUnits = 2048;
// Entries of a folder listed ahead of the walk, for the read-ahead's plan:
// as many as the read-ahead may reach.
constexpr size_t kListedAhead = 128;
constexpr uint64_t kMaxScannedFileBytes = 5u * 1024 * 1024;

// Letter sequences a path must end in to be scanned under the smart filter.
// "oxx" is the sequence the product has always listed; "ocx" is not in it.
constexpr std::u16string_view kSmartExtensions[] = {
    u"exe", u"dll", u"oxx", u"com",  u"sys", u"scr",  u"drv", u"acm",  u"cpl",
    u"pdf", u"wmf", u"doc", u"docx", u"ppt", u"pptx", u"xls", u"xlsx", u"xml",
};

constexpr std::u16string_view kArchiveExtensions[] = {u"zip", u"cab", u"7z"};

// The longest of the sequences a path's end is checked against.
constexpr size_t kLongestSequence = 4;

constexpr bool fitsTheCheck(std::u16string_view sequence) {
    for (char16_t c : sequence)
        if (c >= u'A' && c <= u'Z') return false;
    return sequence.size() <= kLongestSequence;
}
static_assert(std::all_of(std::begin(kSmartExtensions), std::end(kSmartExtensions), fitsTheCheck));
static_assert(std::all_of(std::begin(kArchiveExtensions), std::end(kArchiveExtensions),
                          fitsTheCheck));

// Lower-cases the path in place, then asks whether it ends in one of the
// (lower-case) sequences. No dot is needed: "myxml" ends in "xml".
template <size_t N>
int32_t endsInOneOf(char16_t* path, const std::u16string_view (&sequences)[N]) {
    if (RunFlag() == 0 || path == nullptr) return 0;
    platform::lowerInPlace(path, kPathUnits);
    const std::u16string_view text(path);
    // Its last units lower-cased once more, so that a path longer than the
    // lower-cased part still qualifies whatever the case of its end.
    char16_t last[kLongestSequence];
    const size_t units = std::min(text.size(), kLongestSequence);
    for (size_t i = 0; i < units; ++i) last[i] = platform::toLower16(text[text.size() - units + i]);
    const std::u16string_view end(last, units);
    for (std::u16string_view sequence : sequences)
        if (end.ends_with(sequence)) return 1;
    return 0;
}

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The drive a Windows-form path names ('C' for "c:\x"); 0 for any other form.
char16_t driveLetterOf(std::u16string_view path) {
    if (path.size() < 2 || path[1] != u':') return 0;
    char16_t letter = platform::toUpper16(path[0]);
    return letter >= u'A' && letter <= u'Z' ? letter : 0;
}

// Whether a walk may descend into a sub-folder: never into the host's pseudo
// file systems (/proc, /sys, /dev, /run: endless or blocking files), and
// never into a folder that is the root of another drive, so that a drive
// walk stays on its own drive and each drive is walked once.
bool mayDescendInto(const std::u16string& folder) {
    if (platform::isPseudoFileSystemFolder(folder)) return false;
    const char16_t letter = driveLetterOf(folder);
    if (letter == 0) return true;
    const std::string host = platform::toHostPath(folder);
    if (host.empty()) return true;
    const char16_t owner = platform::driveOfHostPath(host);
    if (owner == 0 || owner == letter) return true;
    // Two letters may map the same host folder; the walk stays on its drive
    // as long as the folder's nearest drive root is its own drive's root.
    return platform::driveRoot(owner) == platform::driveRoot(letter);
}

bool isFolderEntry(const platform::FindData& entry) {
    return (entry.attributes & platform::kAttrReparsePoint) == 0 &&
           (entry.attributes & platform::kAttrDirectory) != 0;
}

// What the extension checks say of an entry's path.
struct PathEnd {
    bool archive = false;     // IsArchiveExt
    bool smartMatch = false;  // CheckFileExt
};

// The extension checks of a path; they lower-case it in place.
PathEnd CheckPathEnd(char16_t* path) { return {IsArchiveExt(path) != 0, CheckFileExt(path) != 0}; }

// folder, the separator and a name, in one allocation (a walk makes a few
// paths for every file).
std::u16string JoinPath(std::u16string_view folder, std::u16string_view joiner,
                        std::u16string_view name) {
    std::u16string path;
    path.reserve(folder.size() + joiner.size() + name.size());
    path.append(folder).append(joiner).append(name);
    return path;
}

// Whether the walk will hand a file to the file scanner, which will read
// it: a guess for the read-ahead, made with the walk's own tests. A wrong
// guess costs a read, never a verdict.
bool willBeRead(const platform::FindData& entry, PathEnd end, int32_t smart,
                int32_t scanArchives) {
    const bool isLink = (entry.attributes & platform::kAttrReparsePoint) != 0;
    if (!isLink && entry.size >= kMaxScannedFileBytes) return false;
    if (end.archive && scanArchives == 1 && !isLink) return false;
    return smart == 0 || end.smartMatch;
}

platform::EntryInFolder listedIn(const platform::FolderRef& folder,
                                 const platform::FindData& entry) {
    return {folder, entry.hostName, (entry.attributes & platform::kAttrReparsePoint) != 0};
}

// Cuts handed at its first zero (it is a text) and says whether it is
// handed on as it is, without a look at the disk: it differs from the
// original at most in the drive letter's case, which never matters.
bool HandedAsItIs(std::u16string& handed, const std::u16string& original) {
    handed.resize(std::u16string_view(handed.c_str()).size());
    return handed.size() < 3 || original.size() < 3 ||
           std::u16string_view(handed).substr(2) == std::u16string_view(original).substr(2);
}

}  // namespace

std::u16string PathToHandOn(const std::u16string& original, const char16_t* lowered) {
    return PathToHandOn(original, std::u16string(lowered));
}

std::u16string PathToHandOn(const std::u16string& original, std::u16string handed) {
    if (HandedAsItIs(handed, original)) return handed;
    if (platform::toHostPath(handed) != platform::toHostPath(original)) return original;
    return handed;
}

int32_t CheckFileExt(char16_t* path) { return endsInOneOf(path, kSmartExtensions); }

int32_t IsArchiveExt(char16_t* path) { return endsInOneOf(path, kArchiveExtensions); }

namespace {

// How a folder's files are named when handed on (PathToHandOn), with what
// is the same for all of them worked out once: whether the folder's own
// lower-cased path leads to the folder, and then only each name is
// resolved within it (a lower-cased path resolves name by name).
class FolderNaming {
public:
    FolderNaming(std::u16string_view folder, std::u16string_view joiner)
        : m_folder(folder), m_joiner(joiner) {}

    // PathToHandOn(full, lowered) for a file `name` listed in the folder.
    std::u16string handedPath(const std::u16string& full, std::u16string lowered,
                              std::u16string_view name) {
        if (HandedAsItIs(lowered, full)) return lowered;
        // Past the lower-cased part of a very long path, or any other text,
        // as PathToHandOn does it.
        const size_t folderUnits = m_folder.size() + m_joiner.size();
        if (full.size() >= kPathUnits || lowered.size() != full.size() ||
            full.size() != folderUnits + name.size())
            return PathToHandOn(full, std::move(lowered));
        if (!m_known) {
            m_host = platform::toHostPath(m_folder);
            const std::u16string loweredFolder = platform::toLower(m_folder);
            m_loweredLeadsHere =
                loweredFolder == m_folder || platform::toHostPath(loweredFolder) == m_host;
            m_known = true;
        }
        // Led into another folder, the lower-cased path names another file.
        if (!m_loweredLeadsHere) return full;
        const std::u16string_view loweredName = std::u16string_view(lowered).substr(folderUnits);
        return m_names.resolveName(m_host, loweredName) == m_names.resolveName(m_host, name)
                   ? std::move(lowered)
                   : full;
    }

private:
    const std::u16string m_folder;
    const std::u16string m_joiner;
    platform::HostPathResolver m_names;
    bool m_known = false;
    bool m_loweredLeadsHere = false;
    std::string m_host;
};

struct ListedAhead;

// An entry listed but not yet walked.
struct Listed {
    explicit Listed(platform::FindData listed) : entry(std::move(listed)) {}
    platform::FindData entry;
    std::u16string full;    // its path, once weighed; empty until then
    std::u16string handed;  // the path planned for the read-ahead; empty if none
    bool weighed = false;   // whether the read-ahead is to read it is decided
    // A file's extension checks, made when it was weighed: the walk uses
    // them rather than checking the path again.
    bool endChecked = false;
    PathEnd end;
    // A sub-folder: whether it was listed ahead, and that listing.
    bool listedAhead = false;
    std::unique_ptr<ListedAhead> ahead;
};

// A sub-folder listed before its walk got there, so that its first files
// could be planned for the read-ahead: its listing, open and read up to its
// first sub-folder, with those entries (weighed) in order.
struct ListedAhead {
    platform::FindFile find;
    std::deque<Listed> entries;
    bool ended = false;
};

// Decides whether the walk will hand a listed file on, so that the
// read-ahead is to read it, with the walk's own tests; sets the path it is
// handed on as when it will. `full` is its path, kept for the walk; naming
// names the folder's files.
bool weighForPlan(Listed& listed, std::u16string full, int32_t smart, int32_t scanArchives,
                  FolderNaming& naming) {
    listed.weighed = true;
    const platform::FindData& entry = listed.entry;
    if (isFolderEntry(entry) || (entry.attributes & platform::kAttrDevice) != 0) return false;
    listed.full = std::move(full);
    std::u16string lowered = listed.full;
    listed.end = CheckPathEnd(lowered.data());
    listed.endChecked = true;
    if (!willBeRead(entry, listed.end, smart, scanArchives)) return false;
    // Planned as the path the file scanner will open.
    listed.handed = naming.handedPath(listed.full, std::move(lowered), listed.entry.name);
    return true;
}

// Where a sub-folder's walk starts from: the folder it was listed in and
// its entry there, and its listing when the walk of that folder made it
// ahead. Null for the folder a walk was asked for.
struct ListedFolder {
    const platform::FolderRef& parent;
    const platform::FindData& entry;
    ListedAhead* ahead = nullptr;
    // Plans on in the folder above, past this sub-folder: called once all
    // that is left of this sub-folder's walk is planned.
    const std::function<void()>* planOnward = nullptr;
};

// Lists a sub-folder before the walk gets there and plans the files its
// walk begins with (those before its first sub-folder): the read-ahead's
// workers then go on into it while the scan thread finishes the files
// before it, instead of idling at the end of every folder. The sub-folder is
// opened as its walk would open it, inside the folder it was listed in and
// only while it is still the folder that listing saw, and its walk goes on
// with this listing; nothing is sent. Null when it is not to be entered or
// does not open: its walk then opens it itself, and says why.
std::unique_ptr<ListedAhead> listSubFolderAhead(const platform::FolderRef& parent,
                                                const platform::FindData& entry,
                                                const std::u16string& folder,
                                                int32_t scanArchives, ReadAhead& readAhead) {
    if (RunFlag() == 0 || folder.size() <= 2 || !mayDescendInto(folder)) return nullptr;
    auto ahead = std::make_unique<ListedAhead>();
    platform::FindData next;
    if (platform::FindFile::firstIn(parent, entry, ahead->find, next,
                                    platform::FindFile::Detail::Listing) != 0)
        return nullptr;
    const platform::FolderRef opened = ahead->find.folder();
    FolderNaming naming(folder, u"\\");
    std::vector<ReadAhead::Planned> planned;
    planned.reserve(kListedAhead);
    for (;;) {
        const bool dots = next.name == u"." || next.name == u"..";
        const bool subFolder = isFolderEntry(next) && !dots;
        Listed listed(std::move(next));
        // Sub-folders are always walked with the smart filter on.
        if (!dots && !subFolder &&
            weighForPlan(listed, JoinPath(folder, u"\\", listed.entry.name), 1, scanArchives,
                         naming))
            planned.push_back({listed.handed, listed.entry.size, listedIn(opened, listed.entry)});
        ahead->entries.push_back(std::move(listed));
        // That sub-folder's walk comes first; the listing is read in
        // batches, as the walk reads it.
        if (subFolder || ahead->entries.size() >= kListedAhead) break;
        next = platform::FindData{};
        if (ahead->find.next(next) != 0) {
            ahead->ended = true;
            break;
        }
    }
    if (!planned.empty()) readAhead.plan(std::move(planned));
    return ahead;
}

// The walk of one folder (FindF). A sub-folder is opened inside the folder
// it was listed in, never through a link, and only while it is still the
// folder the listing saw; its files are opened there too. So a link swapped
// in for a folder or a file during the walk never leads it out of the tree
// (past the checks that keep it off the system's pseudo file systems).
int32_t WalkFolder(const char16_t* folder, int32_t smart, const ListedFolder* listedFolder) {
    if (RunFlag() == 0) return 0;
    if (folder == nullptr) return 0;

    const int32_t scanArchives = ReadSettingFlag(names::kScanArchives);

    // A folder given with a final separator ("C:\dir\") is joined without a
    // second one.
    std::u16string base(folder);
    const std::u16string_view joiner =
        !base.empty() && isSeparator(base.back()) ? std::u16string_view() : u"\\";
    const std::u16string pattern = base + std::u16string(joiner) + u"*.*";
    FolderNaming naming(base, joiner);  // how this folder's files are handed on
    SendOVMsg(SCANMSG_DEBUG, u"FindF: ->> Start path: %s", pattern.c_str());

    int32_t count = 0;
    ReadAheadScope readAheadScope;
    ReadAhead& readAhead = *CurrentReadAhead();

    // The entries listed but not yet walked. Those before the next
    // sub-folder are planned for the read-ahead, then the first files of
    // that sub-folder; the files after it come once all of its walk is
    // planned.
    std::deque<Listed> listed;
    size_t planned = 0;  // entries at the front of listed already planned
    platform::FindFile find;
    platform::FindData first;
    // The walk never asks whether an entry is hidden, and takes a regular
    // file as the listing tells it: the file is looked at when it is opened
    // (its size, whether it is still a regular file), so a second look for
    // each one at listing time would only cost a system call. A file removed
    // after the listing is counted and fails to open, as on Windows.
    const platform::FindFile::Detail detail = platform::FindFile::Detail::Listing;
    ListedAhead* const ahead = listedFolder ? listedFolder->ahead : nullptr;
    uint32_t started = 0;
    if (ahead) {
        // Listed already, while the walk was in the folder above.
        find = std::move(ahead->find);
    } else {
        started = listedFolder ? platform::FindFile::firstIn(listedFolder->parent,
                                                             listedFolder->entry, find, first,
                                                             detail)
                               : platform::FindFile::first(pattern, find, first, detail);
    }
    bool listingEnded = ahead ? ahead->ended : started != 0;
    if (listedFolder &&
        (started == platform::kErrorAccessDenied || started == platform::kErrorCantResolveFilename))
        SendOVMsg(SCANMSG_DEBUG, u"FindF: Folder changed since it was listed, not entered: %s",
                  base.c_str());
    const platform::FolderRef opened = find.folder();
    if (ahead)
        listed = std::move(ahead->entries);
    else if (!listingEnded)
        listed.emplace_back(std::move(first));
    auto listAhead = [&] {
        // Listed in batches, so that the workers are woken once per batch
        // rather than once per file.
        const bool refill = listed.size() <= kListedAhead / 2;
        while (refill && !listingEnded && listed.size() < kListedAhead) {
            platform::FindData more;
            if (find.next(more) == 0)
                listed.emplace_back(std::move(more));
            else
                listingEnded = true;
        }
        std::vector<ReadAhead::Planned> paths;
        paths.reserve(listed.size() - planned);
        for (; planned < listed.size() && !isFolderEntry(listed[planned].entry); ++planned) {
            Listed& next = listed[planned];
            if (next.weighed) continue;  // by the walk of the folder above
            if (weighForPlan(next, JoinPath(base, joiner, next.entry.name), smart, scanArchives,
                             naming))
                paths.push_back({next.handed, next.entry.size, listedIn(opened, next.entry)});
        }
        if (!paths.empty()) readAhead.plan(std::move(paths));
        // The plan has reached a sub-folder: its first files come next
        // (once the workers have room for them: asked again next time).
        if (planned < listed.size() && !listed[planned].listedAhead &&
            !readAhead.aheadIsFull()) {
            Listed& sub = listed[planned];
            sub.listedAhead = true;
            if (sub.entry.name != u"." && sub.entry.name != u"..")
                sub.ahead =
                    listSubFolderAhead(opened, sub.entry, JoinPath(base, joiner, sub.entry.name),
                                       scanArchives, readAhead);
        }
        // All that is left here is planned: what follows this folder in the
        // walk may be planned too. Asked each time, as room may have come
        // since; it plans nothing twice.
        if (listingEnded && planned == listed.size() && listedFolder && listedFolder->planOnward)
            (*listedFolder->planOnward)();
    };
    const std::function<void()> planOnward = listAhead;
    for (;;) {
        listAhead();
        if (listed.empty()) break;
        Listed current = std::move(listed.front());
        listed.pop_front();
        if (planned > 0) --planned;
        const platform::FindData& entry = current.entry;
        if (RunFlag() == 0) {
            SendOVMsg(SCANMSG_DEBUG, u"FindF: Thread Status FALSE!");
            break;
        }
        if (entry.name == u"." || entry.name == u"..") continue;

        // A symbolic link is an entry like any other but never a folder
        // to descend into: a link back up the tree would never end.
        const bool isLink = (entry.attributes & platform::kAttrReparsePoint) != 0;
        const bool isFolder = !isLink && (entry.attributes & platform::kAttrDirectory) != 0;
        // FIFOs, sockets and device nodes are counted but never opened:
        // a read of one can block forever or never end.
        const bool isDevice = (entry.attributes & platform::kAttrDevice) != 0;
        const std::u16string full =
            current.full.empty() ? JoinPath(base, joiner, entry.name) : std::move(current.full);

        if (isFolder && full.size() > 2) {
            // A sub-folder listed ahead was found one to enter then.
            if (current.ahead || mayDescendInto(full)) {
                SendOVMsg(SCANMSG_DEBUG, u"FindF: Folder: %s", full.c_str());
                // Sub-folders are always walked with the smart filter on.
                const ListedFolder sub{opened, entry, current.ahead.get(), &planOnward};
                WalkFolder(full.c_str(), 1, &sub);
            } else {
                SendOVMsg(SCANMSG_DEBUG,
                          u"FindF: Folder not entered (another drive or a system folder): %s",
                          full.c_str());
            }
        }

        SendOVMsg(SCANMSG_DEBUG, u"FindF: File: %s", full.c_str());
        SendOVMsg(SCANMSG_OBJECT_TICK, u"");
        if (full.size() <= 2) continue;

        // Checked already when the file was weighed for the read-ahead; the
        // path is then lower-cased here only where it is handed on.
        std::u16string checked;
        auto lowered = [&] {
            if (checked.empty()) {
                checked = full;
                platform::lowerInPlace(checked.data(), kPathUnits);
            }
            return checked.data();
        };
        const PathEnd end = current.endChecked ? current.end : CheckPathEnd(lowered());
        const bool archive = end.archive;
        bool handOn = false;
        // Only a file of its own goes to the archiver: a link may lead to
        // a FIFO the archiver would wait on, and its target is scanned
        // where it lives.
        if (archive && scanArchives == 1 && !isFolder && !isDevice && !isLink) {
            const std::u16string handed =
                naming.handedPath(full, std::u16string(lowered()), entry.name);
            SendOVMsg(SCANMSG_DEBUG, u"FindF: Scan In Archive: %s ", handed.c_str());
            std::lock_guard<std::recursive_mutex> lock(ArchiveLock());
            DoScanInArchive(handed.c_str());
        } else if (smart == 0) {
            SendOVMsg(SCANMSG_DEBUG, u"FindF: Not Smart Scan");
            handOn = true;
        } else if (end.smartMatch) {
            SendOVMsg(SCANMSG_DEBUG, u"FindF: Smart Scan -> CheckFileExt");
            handOn = true;
        }
        if (!handOn) continue;
        if (isDevice) {
            SendOVMsg(SCANMSG_DEBUG, u"FindF: Not a regular file, not opened: %s", full.c_str());
            continue;
        }
        // Worked out once, when the entry was planned. The file scanner may
        // cut the text it is given.
        std::u16string handed = current.handed.empty()
                                    ? naming.handedPath(full, std::u16string(lowered()), entry.name)
                                    : std::move(current.handed);
        ScanListedFile(handed.data(), nullptr, listedIn(opened, entry));
        // The count is of files; a folder handed on only fails to open.
        if (!isFolder) ++count;
    }
    find.close();

    SendOVMsg(SCANMSG_DEBUG, u"FindF return %d files had been scanned", count);
    return count;
}

}  // namespace

int32_t FindF(const char16_t* folder, int32_t smart) { return WalkFolder(folder, smart, nullptr); }
