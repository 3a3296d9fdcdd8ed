// What the engine's parts share: the state of the running scan and the
// routines one part calls in another. Hidden inside libov_core.so; tests link
// the same code as a static library.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/scan_request.h"

namespace platform {
class File;
struct EntryInFolder;
}  // namespace platform

// ---- Scan run state (scan_run.cpp) ----

// The work behind the four exports (exports.cpp only forwards to these).
int32_t StartOVScan(ScanRequest* request);
int32_t StopOV();
int32_t PauseOV();
int32_t ResumeOV();

// The request of the running scan (null between scans). Set by
// fnStartOVScan; tests set it to drive one routine on its own.
ScanRequest* CurrentRequest();
void SetCurrentRequest(ScanRequest* request);
// 1 while the scan may go on, 0 once a stop was asked for.
int32_t RunFlag();
void SetRunFlag(int32_t value);

// Re-entrant locks of the scan run.
std::recursive_mutex& TempFolderLock();
std::recursive_mutex& FileLock();
std::recursive_mutex& ArchiveLock();

// The temp folder (Windows form, trailing backslash) and the archiver's path
// (host path of the installed 7-Zip program; empty when none was found).
const std::u16string& TempFolderPath();
const std::string& ArchiverPath();
// The private folder of this scan run that archives are extracted into
// (Windows form; empty when none could be made). Removed at the end of the run.
const std::u16string& ExtractionFolderPath();
// Runs work on a thread that LoadUnzipRes starts on the thread setting the
// scan run up, before the scan thread exists, so that it keeps the rights
// the scan thread gives up: starting the archiver as a user of its own,
// ending that user's processes, removing what it wrote. Blocks until the
// work is done; runs it on the calling thread when no such thread runs.
void RunWithSetupRights(const std::function<void()>& work);
// Where LoadUnzipRes looks for 7-Zip, in order (host paths); for tests.
void SetArchiverCandidates(std::vector<std::string> paths);
void ResetArchiverCandidates();

// Blocks the scan thread while the scan is paused (fnPauseOV); returns at
// once otherwise. Called at every message send and before every read.
void WaitWhilePaused();

// HKLM\subKey value into the caller's buffer: 0 read or key missing
// (buffer untouched), 1 value missing or too large, else the error code.
int32_t ReadMachineValue(const char16_t* subKey, const char16_t* valueName, void* buffer,
                         uint32_t* size);
// A Settings flag: 1 only when the DWORD value equals 1.
int32_t ReadSettingFlag(const char16_t* valueName);
int32_t EnablePrivilege(const char16_t* name);

int32_t LoadUnzipRes();
// Forgets the temp folder and the archiver found by LoadUnzipRes.
void ForgetUnzipRes();

// ---- Message channel (message_channel.cpp) ----

// Formats (printf style, %s takes a char16_t*) and sends one message to the
// request's window, with the channel's traces. Returns the code.
int32_t SendOVMsg(int32_t code, const char16_t* format, ...);
// Whether the request's window wants traces now, as SendOVMsg asks before
// each call: work whose only outcome is traces can be left out when not.
bool TracesWanted();

// ---- Hash database and verdict (hash_database.cpp, verdict.cpp) ----

int32_t LoadDbFileData();
// How the database file's bytes are read, at an offset (from two threads at
// once for a large file); for tests that make the read fail part way.
// ResetDatabaseReader() puts the file's own read back.
using DatabaseReader = std::function<uint32_t(const platform::File& file, uint64_t offset,
                                              void* buffer, uint32_t size, uint32_t& got)>;
void SetDatabaseReader(DatabaseReader reader);
void ResetDatabaseReader();
int32_t UnscrambleDbText();
void UnloadOVData();
uint8_t DatabaseKeyByte();
// Plain-text search of the loaded database for a hash text.
bool DatabaseContains(const char* hashText);
uint32_t GenerateCryptoMd5Buffer(const void* data, uint32_t size, const char16_t* name,
                                 const char16_t* extra);
// The MD5 of a block of bytes, and which step of the crypto library failed.
struct Md5Result {
    enum class Step { Done, ContextFailed, UpdateFailed, FinishFailed };
    Step step = Step::ContextFailed;
    uint8_t digest[16] = {};
    // Whether the database lists the digest, when whoever hashed it (a
    // read-ahead worker) has already looked it up: the database does not
    // change during a scan run, and the lookup's cache misses then fall on
    // the worker, not on the scan thread.
    enum class Listed : uint8_t { Unknown, No, Yes };
    Listed listed = Listed::Unknown;
};
Md5Result HashBytes(const void* data, uint32_t size);
// The database's answer for a digest from the index, as DatabaseContains
// would give it for the digest's text; Unknown while there is no index.
// Safe on any thread while the database stays loaded.
Md5Result::Listed DatabaseListsDigest(const uint8_t digest[16]);
// What GenerateCryptoMd5Buffer does once the bytes are hashed: its traces,
// the lookup and the report. size is the byte count the traces name.
uint32_t JudgeMd5Result(const Md5Result& md5, uint32_t size, const char16_t* name,
                        const char16_t* extra);
void ScanHashData(const char16_t* hashText, const char16_t* name, const char16_t* extra,
                  Md5Result::Listed listed = Md5Result::Listed::Unknown);
void AddFileToReport(const char16_t* name, const char16_t* hashText, const char16_t* threatType,
                     const char16_t* extra);
// Infection table of the scan run (2048 entries).
bool AllocateInfectionTable();
void ReleaseInfectionTable();

// ---- File scanner (file_scanner.cpp) ----

int32_t __ScanFile(char16_t* path, const char16_t* extra);
// __ScanFile for a file a walk listed: opened only as listed, inside the
// folder it was listed in; path is the name it is reported under.
int32_t ScanListedFile(char16_t* path, const char16_t* extra, const platform::EntryInFolder& entry);
// A new 2048-unit string, or null; cuts text in place.
std::unique_ptr<char16_t[]> TranslatePath(char16_t* text);
char16_t* RemoveBadChars(char16_t* text);
int32_t GetFileSections(const char16_t* path, const char16_t* extra);
// GetFileSections over a file already open for reading (read from its start).
int32_t GetFileSectionsOf(platform::File& file, const char16_t* path, const char16_t* extra);
// The section step of GetFileSections over an image already in memory;
// budget is the file size the section sizes are weighed against.
int32_t HashImageSections(const uint8_t* data, size_t size, int64_t budget, const char16_t* path,
                          const char16_t* extra);

// ---- Folder walker and archives (folder_walker.cpp, archive_scan.cpp) ----

int32_t FindF(const char16_t* folder, int32_t smart);
int32_t CheckFileExt(char16_t* path);
int32_t IsArchiveExt(char16_t* path);
int32_t DoScanInArchive(const char16_t* path);
// The wall-clock limits of one archive's extraction and of a nest of
// archives (an archive on disk and every archive inside it); for tests.
void SetArchiveTimeLimits(std::chrono::milliseconds extraction, std::chrono::milliseconds nest);
void ResetArchiveTimeLimits();

// The name and location text a finding is reported under. A file extracted
// from an archive is reported as the archive on disk (the outermost one),
// with the member, through every inner archive, in the location text
// ("archive member: inner.zip > docs\eicar.com"), so that deleting or
// quarantining the finding acts on the file the user has. Any other file
// keeps its name and extra text.
class FindingName {
public:
    FindingName(const char16_t* name, const char16_t* extra);
    const char16_t* name() const { return m_inArchive ? m_name.c_str() : m_givenName; }
    const char16_t* extra() const { return m_inArchive ? m_location.c_str() : m_givenExtra; }
    bool inArchive() const { return m_inArchive; }

private:
    const char16_t* m_givenName;
    const char16_t* m_givenExtra;
    bool m_inArchive = false;
    std::u16string m_name;
    std::u16string m_location;
};

// ---- Scan routines (full_scan.cpp, threat_scan.cpp, registry_scan.cpp) ----

int32_t doStartFullScanRutine(ScanRequest* request);
int32_t doStartCustomScanRutine(ScanRequest* request);
int32_t doStartQuickScanRutine(ScanRequest* request);
int32_t DoScanRegistryLocations();
