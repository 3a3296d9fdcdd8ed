// Files and folders with Windows semantics: access, share modes,
// dispositions, attributes, wildcard enumeration, current directory and the
// temp folder. Paths are Windows form (path.h). Every fallible call returns a
// Windows error code (0 = success) and also sets the thread's last error.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

namespace detail {
struct FileAccess;
}

// Access rights.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;

// Share modes. Within one process they are enforced (a file held open without
// kShareDelete cannot be deleted: 32); across processes they are advisory.
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kShareDelete = 4;

enum class Disposition : uint32_t {
    CreateNew = 1,         // 80 when the file exists
    CreateAlways = 2,      // create or truncate
    OpenExisting = 3,      // 2 (or 3 when a folder on the way is missing)
    OpenAlways = 4,        // open or create
    TruncateExisting = 5,  // open and truncate; 2 when missing
};

// Attributes as GetFileAttributes reports them.
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrSystem = 0x4;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrDevice = 0x40;  // FIFO, socket or device node
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kAttrReparsePoint = 0x400;  // a symbolic link
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

enum class SeekOrigin { Begin, Current, End };

// An open file. Only regular files are opened for content: a FIFO, socket
// or device node fails with 5 and a folder with 5, so a scan never blocks on
// one (and a device is never opened at all). Opening for writing (or
// truncating) a read-only file fails with 5, even for root; a file is never
// created through a dangling symbolic link (5). An existing file opened with
// CreateAlways or OpenAlways succeeds with 183 as the last error, as on
// Windows. Move-only; closes on destruction.
// What tells one version of a file from another. The change time is kept
// by the system (no program can set it) and moves at every write, so two
// equal identities taken at different moments mean the content did not
// change in between, provided the change time was already older than the
// system's clock tick at the first moment.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;  // since 1970, UTC
    int64_t changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// An open folder. What is opened inside it is looked up in this very
// folder, wherever its path leads by now; a walk and whoever opens the files
// it listed (another thread) share it, and it closes with its last holder.
class OpenFolder;
using FolderRef = std::shared_ptr<const OpenFolder>;

// A listed entry, to be opened inside the folder it was listed in.
struct EntryInFolder {
    FolderRef folder;
    std::string hostName;  // the name as the folder holds it
    bool isLink = false;   // the listing saw a symbolic link there
};

// Who owns a file and its permission bits (host user and group ids, mode
// bits 07777), so that a file taken away can be put back as it was.
struct FileOwner {
    uint32_t user = 0;
    uint32_t group = 0;
    uint32_t mode = 0;
};

class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    [[nodiscard]] static uint32_t open(std::u16string_view path, uint32_t access, uint32_t share,
                                       Disposition disposition, File& out);
    // Opens a listed entry for reading, inside the folder it was listed in.
    // An entry listed as a file is opened without following a link, so a
    // link put in its place since is never followed (1921); one listed as a
    // link is opened as the file it names. Either way only a regular file is
    // opened for its content, and what the name leads to is looked at in the
    // same step as the open: a device is never opened, a FIFO never waited
    // on (5). 2 when the entry is gone, 87 without a folder.
    [[nodiscard]] static uint32_t openInFolder(const EntryInFolder& entry, uint32_t share,
                                               File& out);

    // Creates a log file, opened for reading and writing, as root may in a
    // folder others could reach: the folder must be a real folder (not a
    // link), the name is never followed as a link, a new file gets mode
    // 0600, and an existing one is replaced (emptied) only when it is a
    // regular file of this user with no other name; anything else there
    // (a link, a device, a file of someone else) is left untouched and 5
    // returned. A folder of this user is made readable by its owner only.
    [[nodiscard]] static uint32_t createLog(std::u16string_view path, uint32_t share, File& out);

    bool isOpen() const { return m_fd >= 0; }
    [[nodiscard]] uint32_t read(void* buffer, uint32_t size, uint32_t& bytesRead);
    // Reads at offset without moving the file's position, so that several
    // threads may read one file at once; fewer bytes only at its end.
    [[nodiscard]] uint32_t readAt(uint64_t offset, void* buffer, uint32_t size,
                                  uint32_t& bytesRead) const;
    [[nodiscard]] uint32_t write(const void* data, uint32_t size, uint32_t& bytesWritten);
    [[nodiscard]] uint32_t size(uint64_t& out) const;
    [[nodiscard]] uint32_t identity(FileIdentity& out) const;
    [[nodiscard]] uint32_t owner(FileOwner& out) const;
    // Gives the open file that owner and mode (owner first, so that mode
    // bits tied to the owner stay); 5 when this process may not.
    [[nodiscard]] uint32_t setOwner(const FileOwner& owner);
    // The identity the file had when it was opened (all zero when closed).
    const FileIdentity& identityAtOpen() const { return m_identityAtOpen; }
    [[nodiscard]] uint32_t seek(int64_t offset, SeekOrigin origin);
    [[nodiscard]] uint32_t setEndOfFile();
    void close();

private:
    friend struct detail::FileAccess;
    int m_fd = -1;
    uint32_t m_access = 0;
    uint64_t m_openId = 0;  // entry in this process's table of open files and share modes
    FileIdentity m_identityAtOpen;
};

// Reads a whole regular file of at most maxBytes; 8 when it is larger.
[[nodiscard]] uint32_t readWholeFile(std::u16string_view path, std::string& out,
                                     uint64_t maxBytes = 64u << 20);

// Writes a whole file (create always).
[[nodiscard]] uint32_t writeWholeFile(std::u16string_view path, std::string_view data);

// Deletes a file: 5 when read-only or a folder, 32 when this process holds
// it open without delete sharing, 2 when missing, 3 when its folder is. A
// symbolic link is deleted itself, never its target.
[[nodiscard]] uint32_t deleteFile(std::u16string_view path);

// Renames or moves (across file systems by copy and delete); 183 when the
// target exists (a change of case only is allowed), 32 when this process
// holds the source open without delete sharing.
[[nodiscard]] uint32_t moveFile(std::u16string_view from, std::u16string_view to);
// Copies content, mode (read-only included), time and DOS attributes; 80
// when failIfExists and the target exists; no partial copy is left behind.
[[nodiscard]] uint32_t copyFile(std::u16string_view from, std::u16string_view to,
                                bool failIfExists);

// kInvalidAttributes (and last error) when the path does not exist. A
// symbolic link reports kAttrReparsePoint and is not followed.
uint32_t getFileAttributes(std::u16string_view path);
// Read-only maps to the write bits, hidden and system to the user.DOSATTRIB
// extended attribute (ignored without error where unsupported).
[[nodiscard]] uint32_t setFileAttributes(std::u16string_view path, uint32_t attributes);

[[nodiscard]] uint32_t createDirectory(std::u16string_view path);  // 183 when it exists
[[nodiscard]] uint32_t removeDirectory(std::u16string_view path);  // 145 when not empty

// Removes a folder tree; never follows symbolic links out of it, never
// empties another file system mounted inside (5), copes with trees deeper
// than PATH_MAX. Stops at the first name it cannot remove. A link given as
// the tree is removed as a link; a drive's root is refused with 5.
[[nodiscard]] uint32_t removeTree(std::u16string_view path);
// Called by removeTree after it listed a sub-folder and before it opens the
// sub-folder to empty it, with its name; for tests that swap the folder in
// between. An empty function, the default, turns it off.
void setRemoveTreeDescentHook(std::function<void(std::string_view name)> hook);

struct FindData {
    std::u16string name;  // the entry's name only
    uint32_t attributes = 0;
    uint64_t size = 0;
    int64_t lastWriteUnix = 0;  // seconds since 1970, UTC
    // What the listing saw: the name as the folder holds it, and the entry's
    // device and inode (of the link itself for a link).
    std::string hostName;
    uint64_t device = 0;
    uint64_t inode = 0;
};

// Folder enumeration with a Windows wildcard pattern ("C:\dir\*.*",
// "..\jobs\*.ovj"); "*" and "?" match case-insensitively as Windows matches
// them ("*.*" matches every name, dots or not). "." and ".." are listed
// first, as Windows lists them (not at a drive's root, where Windows has
// none); the other names follow in the order of their upper-case form.
// Symbolic links are entries, never followed; attributes come from lstat.
class FindFile {
public:
    FindFile() = default;
    ~FindFile();
    FindFile(FindFile&& other) noexcept;
    FindFile& operator=(FindFile&& other) noexcept;
    FindFile(const FindFile&) = delete;
    FindFile& operator=(const FindFile&) = delete;

    // What an entry's attributes hold: everything, or only what the entry's
    // type and mode tell (folder, link, device, read-only; a file counts as
    // archive), without the hidden, system and archive bits kept beside it,
    // which cost another look at each entry. Listing goes one step further
    // for regular files: what the folder's listing itself tells, without a
    // look at the file (archive only, size and time 0, the folder's device
    // and the listed inode), so a file removed since the listing is still
    // listed, as Windows lists it from its directory; folders, links and
    // other entries are looked at as with NoHiddenOrSystem.
    enum class Detail { Full, NoHiddenOrSystem, Listing };

    // 0 and the first entry; 2 when nothing matches, 3 when the folder is missing.
    [[nodiscard]] static uint32_t first(std::u16string_view pattern, FindFile& out, FindData& entry,
                                        Detail detail = Detail::Full);
    // Lists a sub-folder of a listing: the entry is opened inside the
    // folder it was listed in, without following a link, and listed only
    // while it is still the folder the listing saw (same device and inode),
    // so a link or another folder swapped in since is never entered. Every
    // name is listed, as for "*.*". 0 and the first entry; 2 when nothing is
    // in it; 3 when the entry is gone or no longer a folder; 5 when another
    // folder stands there now; 1921 when it is a link now.
    [[nodiscard]] static uint32_t firstIn(const FolderRef& parent, const FindData& folderEntry,
                                          FindFile& out, FindData& entry,
                                          Detail detail = Detail::Full);
    // 0 and the next entry; 18 at the end.
    [[nodiscard]] uint32_t next(FindData& entry);
    // The folder being listed, to open its entries in (null when closed).
    FolderRef folder() const;
    void close();

private:
    struct State;
    State* m_state = nullptr;
};

// Forgets every entry of this process's table of open files and their share
// modes; for tests. Files still open stay open and close normally.
void resetShareTable();

// Windows wildcard match (case-insensitive), as used by FindFile.
bool matchesWildcard(std::u16string_view pattern, std::u16string_view name);

// Current directory in Windows form, and setting it (Windows or host form).
std::u16string currentDirectory();
[[nodiscard]] uint32_t setCurrentDirectory(std::u16string_view path);

// The temp folder in Windows form with a trailing backslash: $TMPDIR or /tmp.
std::u16string tempPath();

// A new private folder (0700) inside the temp folder, made with mkdtemp;
// its Windows-form path without trailing backslash.
[[nodiscard]] uint32_t createPrivateTempFolder(std::u16string_view prefix, std::u16string& out);
// The same inside a given folder (Windows form).
[[nodiscard]] uint32_t createPrivateFolder(std::u16string_view parent, std::u16string_view prefix,
                                           std::u16string& out);

// Writing a file in place for the tools, by host path: the content goes to
// a fresh file made beside the target with an unpredictable name (mkstemp:
// never an existing file, never through a link), is flushed, and then
// replaces the target by rename, so the target is either the old file or
// the whole new one. A link at the target's name is replaced, never
// followed. The new file keeps the mode of the file it replaces (0644 when
// there was none). Windows error codes.
[[nodiscard]] uint32_t replaceHostFile(const std::string& target, std::string_view data);
// The same with the content and mode of another file (a program copied).
[[nodiscard]] uint32_t copyHostFileReplacing(const std::string& from, const std::string& target);

// Bytes free for this user on the file system that holds path.
[[nodiscard]] uint32_t diskFreeBytes(std::u16string_view path, uint64_t& freeBytes);

// ---------------------------------------------------------------------------
// Writes and deletes on paths other users may control
//
// A program running as root that deletes, creates or renames a file in a
// folder a user can write (a finding in a home folder, a restore target)
// must not be led elsewhere by a symbolic link that user planted. These calls
// walk the path one folder at a time, holding each folder open, and follow a
// link only when nobody but root (or the caller) could have put it there: the
// link is owned by root or the caller, and the folder holding it can be
// written by no one else (a sticky folder counts as safe, since others
// cannot replace what they do not own). A link that fails this, as the last
// component or as any folder on the way, refuses the call with 5 and nothing
// is touched. Missing folders give 3, a missing last name 2.
// ---------------------------------------------------------------------------

// Deletes a file (a safe link as the last component is deleted itself,
// never its target): 5 when refused, read-only or a folder, 32 when this
// process holds it open without delete sharing, 2 when missing.
[[nodiscard]] uint32_t deleteFileNoPlantedLink(std::u16string_view path);

// Opens an existing regular file (5 for anything else) with File::open's
// access and share rules, following only safe links.
[[nodiscard]] uint32_t openFileNoPlantedLink(std::u16string_view path, uint32_t access,
                                             uint32_t share, File& out);

// Creates a new file for writing, exclusively and without following a link
// at its name: 80 when the name exists in any form (file, link or folder).
// The file is made with the given mode bits less the process's umask.
[[nodiscard]] uint32_t createFileNoPlantedLink(std::u16string_view path, uint32_t share, File& out,
                                               uint32_t mode = 0644);

// Renames a file or link as a name (never through a link at either end);
// with replaceExisting an existing file at the target is replaced in one
// step, otherwise 183 when the target exists. 17 across file systems.
[[nodiscard]] uint32_t renameFileNoPlantedLink(std::u16string_view from, std::u16string_view to,
                                               bool replaceExisting);

// Sets the attributes of a regular file as setFileAttributes does.
[[nodiscard]] uint32_t setFileAttributesNoPlantedLink(std::u16string_view path,
                                                      uint32_t attributes);

// Makes an open file's content and a folder's entries durable (fsync), so
// that a rename done after them survives a crash with complete content.
[[nodiscard]] uint32_t flushFile(File& file);
[[nodiscard]] uint32_t flushFolderNoPlantedLink(std::u16string_view folder);

}  // namespace platform
