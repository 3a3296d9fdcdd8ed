#include "tools/orvane-setup/setup_steps.h"

#include <fstream>
#include <vector>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

namespace setup {

namespace {

using platform::RegKey;
using platform::RegRoot;

// The installer's everyday protection profile: the scan options that find
// the most without slowing a scan down much, update checks on, and nothing
// that changes the machine (no browser closing, no start with the system).
struct SettingDefault {
    const char16_t* name;
    uint32_t value;
};

constexpr SettingDefault kSettingDefaults[] = {
    {names::kCloseBrowsers, 0},  {names::kSendStatistics, 0},
    {names::kCheckUpdates, 1},   {names::kIgnoreLarageFiles, 1},
    {names::kSmartExt, 1},       {names::kScanArchives, 1},
    {names::kScanStartup, 1},    {names::kScanSrvDrv, 1},
    {names::kScanPageFile, 0},   {names::kScanMBR, 1},
    {names::kScanSysRestore, 0}, {names::kCatchExt, 0},
    {names::kDeep, 0},           {names::kHidden, 1},
    {names::kScanFav, 0},        {names::kMonitoring, 0},
    {names::kStartup, 0},        {names::kDebug, 0},
    {names::kServiceState, 0},
};

// The standard EICAR test file's MD5.
constexpr char kStarterDatabase[] = "44D88612FEA8A8F36DE82E1278ABB02F\r\n";

std::string utf16le(std::u16string_view text, size_t paddedTo) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    bytes.append(2, '\0');
    if (bytes.size() < paddedTo) bytes.resize(paddedTo, '\0');
    return bytes;
}

std::string dword(uint32_t v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                       char((v >> 24) & 0xFF)};
}

// Sets a value only when it is missing.
uint32_t addMissing(const RegKey& key, const char16_t* name, uint32_t type,
                    const std::string& bytes, RegistryCounts& counts) {
    uint32_t size = 0;
    uint32_t rc = key.queryValue(name, nullptr, nullptr, &size);
    if (rc == 0) {
        ++counts.kept;
        return 0;
    }
    if (rc != platform::kErrorFileNotFound) return rc;
    rc = key.setValue(name, type, bytes.data(), uint32_t(bytes.size()));
    if (rc == 0) ++counts.added;
    return rc;
}

}  // namespace

bool createFolders(const fs::path& root, std::string& error) {
    std::error_code ec;
    for (const char* folder : kFolders) {
        fs::create_directories(root / folder, ec);
        if (ec) {
            error = "cannot create " + (root / folder).string() + ": " + ec.message();
            return false;
        }
        // Report logs and traces name what the scans saw: for the owner only.
        if (std::string_view(folder) == "logs") {
            fs::permissions(root / folder, fs::perms::owner_all, fs::perm_options::replace, ec);
            if (ec) {
                error = "cannot make " + (root / folder).string() + " private: " + ec.message();
                return false;
            }
        }
    }
    return true;
}

int copyProgramFiles(const fs::path& from, const fs::path& to, std::string& error) {
    std::error_code ec;
    // The list is taken first, so a target inside the source is not copied
    // into itself.
    std::vector<fs::directory_entry> entries;
    for (auto it = fs::recursive_directory_iterator(from, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        entries.push_back(*it);
    }
    if (ec) {
        error = "cannot list " + from.string() + ": " + ec.message();
        return -1;
    }
    const fs::path target = fs::weakly_canonical(to, ec);
    int copied = 0;
    for (const auto& entry : entries) {
        const fs::path relative = entry.path().lexically_relative(from);
        const fs::path dest = to / relative;
        auto inTarget = fs::weakly_canonical(entry.path(), ec).lexically_relative(target);
        if (!inTarget.empty() && *inTarget.begin() != "..") continue;
        if (entry.is_directory(ec) && !entry.is_symlink(ec)) {
            fs::create_directories(dest, ec);
        } else if (entry.is_symlink(ec)) {
            fs::path link = fs::read_symlink(entry.path(), ec);
            if (!ec) {
                fs::remove(dest, ec);
                fs::create_symlink(link, dest, ec);
            }
        } else if (entry.is_regular_file(ec)) {
            // Copied beside the target under a fresh name, then renamed.
            const uint32_t rc =
                platform::copyHostFileReplacing(entry.path().string(), dest.string());
            if (rc != 0) ec = std::error_code(EIO, std::generic_category());
            if (!ec) ++copied;
        }
        if (ec) {
            error = "cannot copy " + entry.path().string() + " to " + dest.string() + ": " +
                    ec.message();
            return -1;
        }
    }
    return copied;
}

uint32_t writeRegistry(const std::u16string& programFolder, RegistryCounts& counts) {
    RegKey product;
    uint32_t rc = RegKey::create(RegRoot::LocalMachine, names::kProductKey, product);
    if (rc != 0) return rc;

    // Path as the application writes it: the text in a 512-byte buffer.
    const std::string path = utf16le(programFolder, 512);
    std::string current(512, '\0');
    uint32_t type = 0, size = uint32_t(current.size());
    rc = product.queryValue(names::kValuePath, &type, current.data(), &size);
    current.resize(size);
    std::u16string currentText;
    for (size_t i = 0; rc == 0 && i + 1 < current.size(); i += 2) {
        char16_t c = char16_t(uint8_t(current[i]) | uint8_t(current[i + 1]) << 8);
        if (!c) break;
        currentText += c;
    }
    if (rc == 0 && currentText == programFolder) {
        ++counts.kept;
    } else if (rc == 0 || rc == platform::kErrorFileNotFound || rc == platform::kErrorMoreData) {
        // A Path that names another folder (an installation moved or
        // copied) would send every program to the wrong place.
        bool existed = rc != platform::kErrorFileNotFound;
        rc = product.setValue(names::kValuePath, platform::kRegExpandSz, path.data(),
                              uint32_t(path.size()));
        if (rc != 0) return rc;
        if (existed)
            counts.pathUpdated = true;
        else
            ++counts.added;
    } else {
        return rc;
    }
    rc = addMissing(product, names::kValueVersion, platform::kRegSz,
                    utf16le(names::kProductVersion, 0), counts);
    if (rc != 0) return rc;

    RegKey settings;
    rc = RegKey::create(RegRoot::LocalMachine, names::kSettingsKey, settings);
    if (rc != 0) return rc;
    for (const auto& s : kSettingDefaults) {
        rc = addMissing(settings, s.name, platform::kRegDword, dword(s.value), counts);
        if (rc != 0) return rc;
    }
    rc = addMissing(settings, names::kFeedBack, names::kFeedBackValueType, dword(0), counts);
    if (rc != 0) return rc;

    RegKey data;
    rc = RegKey::create(RegRoot::LocalMachine, names::kDataKey, data);
    if (rc != 0) return rc;
    rc = addMissing(data, names::kValueData, platform::kRegBinary,
                    utf16le(names::kDataRecordInitial, names::kDataRecordBytes), counts);
    if (rc != 0) return rc;
    return addMissing(data, names::kValueSched, platform::kRegSz, utf16le(u"", 0), counts);
}

bool installHashDatabase(const fs::path& file, bool& created, std::string& error) {
    created = false;
    std::error_code ec;
    if (fs::exists(file, ec)) return true;
    std::string stored;
    if (!names::scrambleDatabaseText(kStarterDatabase, stored, &error)) return false;
    if (const uint32_t rc = platform::replaceHostFile(file.string(), stored); rc != 0) {
        error = "cannot write " + file.string() + " (error " + std::to_string(rc) + ")";
        return false;
    }
    created = true;
    return true;
}

}  // namespace setup
