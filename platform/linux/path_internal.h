// Helpers shared by the Linux path and file code; not part of the public API.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

struct stat;

namespace platform::detail {

// One host file name (raw bytes) in Windows form and back, losslessly: bytes
// that are not UTF-8 become U+DC80..U+DCFF (text.h), and a backslash byte,
// which Windows form would read as a separator, becomes U+DC5C.
std::u16string hostNameToWindows(std::string_view name);
std::string windowsNameToHost(std::u16string_view name);

// The code for a host path that does not exist: 2 when its folder exists,
// 3 when a folder on the way is missing.
uint32_t missingPathCode(const std::string& hostPath);

// Joins a host folder and a name with one slash.
std::string joinHost(const std::string& folder, std::string_view name);

// toHostPath, and the lstat the conversion made of its result: valid when
// the path exists exactly as given, so that an open can use that look
// instead of making its own.
std::string toHostPathLooked(std::u16string_view windowsPath, struct stat& looked, bool& valid);

// Whether a host path lies in the folder where archives are extracted
// (scratchFolderHost), which may sit in /run: its trees are walked.
bool isInScratchFolder(std::string_view hostPath);

}  // namespace platform::detail
