// The steps of an installation. Each one leaves what is already there alone,
// so running the installer again repairs a damaged installation without
// undoing the user's choices.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace setup {

// The folders beside the program folder.
inline constexpr const char* kFolders[] = {"bin", "data", "logs", "jobs", "infected"};

// Creates root and its folders; false with a message on failure.
bool createFolders(const std::filesystem::path& root, std::string& error);

// Copies every file below from into to (sub-folders too), each through a
// temporary name and a rename so that a running program is never half
// overwritten. Returns the number of files copied, or -1 with a message.
int copyProgramFiles(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& error);

struct RegistryCounts {
    int added = 0;
    int kept = 0;
    bool pathUpdated = false;
};

// Writes the product key, the Settings defaults and the data key. Existing
// values are kept, except Path, which must name this program folder.
// programFolder is the Windows form of <root>\bin. Returns a registry error
// code.
uint32_t writeRegistry(const std::u16string& programFolder, RegistryCounts& counts);

// Writes the starter hash database (the EICAR test file's digest) when the
// file does not exist. created tells which happened.
bool installHashDatabase(const std::filesystem::path& file, bool& created, std::string& error);

// The longest program folder the Path value can hold (512 bytes with the
// terminator).
inline constexpr size_t kMaxProgramFolderUnits = 255;

}  // namespace setup
