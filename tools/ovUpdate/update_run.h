// One run of the updater: fetch the database and its checksum from the
// configured Host over HTTPS, check both, and put the new database in place
// of "..\data\hashdb.dbf" in one step, keeping the old one as
// hashdb.dbf.bak. Every step is logged to "..\logs\ovUpdate.log"; progress
// goes to the terminal.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

inline constexpr char16_t kUpdateLogRelativePath[] = u"..\\logs\\ovUpdate.log";
inline constexpr char kDatabaseUrlPath[] = "/def/hashdb.dbf";
inline constexpr char kChecksumUrlPath[] = "/def/hashdb.sha256";
// A database larger than this is refused.
inline constexpr size_t kMaxDatabaseBytes = size_t(512) << 20;

struct UpdateRun {
    // The program folder (Windows form); the data and logs folders are its
    // siblings. Empty: the Path value of the product key, else the folder of
    // this program.
    std::u16string programFolder;
    // Where progress and the outcome are shown (a line at a time, or a
    // progress line ending in '\r').
    std::function<void(const std::string&)> show;
    // The value of the caller entry of this program's environment
    // (common/update_caller.h); empty when there is none, as at logon. With
    // a caller, the run first waits for that process to end (at most
    // kCallerWaitLimit) and at its end starts "<program folder>/Orvane"
    // again, whether the update succeeded or not; without one it never
    // starts the application.
    std::string caller;
};

inline constexpr std::chrono::seconds kCallerWaitLimit{30};
inline constexpr char16_t kApplicationProgramName[] = u"Orvane";

enum class UpdateResult {
    Updated = 0,  // the new database is in place
    Failed = 1,   // nothing changed; the reason is logged
};

UpdateResult RunUpdate(const UpdateRun& run);

// The program folder as the run uses it.
std::u16string UpdateProgramFolder(const UpdateRun& run);
