// The check of one added file: open (three attempts), MD5 of the whole
// content below 5 MiB, lookup in the hash list, the "data" record, the
// shared status record, and for a hit the alert program in the user's
// session. Runs on the service thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace ovsvc {

inline constexpr uint64_t kLargestHashedFile = 0x500000;  // files this size or more are not hashed
inline constexpr unsigned kFirstRetryDelayMs = 2000;

// true when the file was opened, whatever the verdict. Three open attempts;
// the first failure waits kFirstRetryDelayMs unless the file is gone.
bool CheckChangedFile(const std::u16string& path);

// 0 clean (or hashing failed), 1 infected, else the error of acquiring the
// digest provider.
uint32_t GenerateCryptoMd5Buffer(const uint8_t* data, size_t size, const std::u16string& path);

// "<Path>\ovfilemsg.exe <file>": the alert's command line, as it is logged
// and handed to the session launch.
std::u16string alertCommandLine(const std::u16string& programFolder, const std::u16string& path);

}  // namespace ovsvc
