// The folder locations of the threat scan: start-up, favourites, temp,
// cookies and the system folders, each walked with the smart filter.
#include <string>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/threat_scan.h"
#include "platform/fs.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace {

// Each table ends at its first entry of 2 characters or fewer; "%s" stands
// for the current user's name.
const char16_t* const kStartupFolders[] = {
    u"C:\\Users\\%s\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
    u"",
};

const char16_t* const kCookiesFolders[] = {
    u"C:\\Users\\%s\\AppData\\Roaming\\Microsoft\\Windows\\Cookies",
    u"C:\\Users\\%s\\AppData\\Local\\Google\\Chrome\\User Data\\Default\\Cookies",
    u"C:\\Documents and Settings\\%s\\Application Data\\Mozilla\\Firefox\\Profiles",
    u"C:\\Documents and Settings\\%s\\Cookies",
    u"C:\\Documents and Settings\\%s\\Local Settings\\Application Data\\Google\\Chrome\\User "
    u"Data\\Default",
    u"",
};

const char16_t* const kFavoriteFolders[] = {
    u"C:\\Users\\%s\\Favorites",
    u"C:\\Documents and Settings\\%s\\Desktop",
    u"",
};

const char16_t* const kImportantFolders[] = {
    u"C:\\Windows\\System",
    u"C:\\Windows\\System32",
    u"C:\\Windows\\SysWOW64",
    u"C:\\Windows\\winsxs",
    u"",
};

bool endOfTable(const char16_t* entry) {
    return entry == nullptr || platform::length16(entry) <= 2;
}

// The current user's name as GetUserNameW gives it (up to 2048 units); empty
// when it cannot be had, which leaves the folder names without it.
std::u16string currentUserName() {
    std::u16string name;
    if (platform::userName(name) != 0 || name.size() >= 2048) name.clear();
    return name;
}

std::u16string folderFor(const char16_t* templ, const std::u16string& user) {
    return platform::format16(templ, user.c_str());
}

// Walks each folder of a table with the smart filter.
void walkTable(const char16_t* const* table, const std::u16string& user) {
    for (size_t i = 0; !endOfTable(table[i]); ++i) {
        FindF(folderFor(table[i], user).c_str(), 1);
    }
}

}  // namespace

int32_t DoScanStartupFolders() {
    if (RunFlag() != 1) return 0;
    SendOVMsg(SCANMSG_DEBUG, u" DoScanStartupFolders start");
    walkTable(kStartupFolders, currentUserName());
    SendOVMsg(SCANMSG_DEBUG, u" DoScanStartupFolders end");
    return 1;
}

int32_t DoScanFavoriteLocation() {
    if (RunFlag() != 1) return 1;
    const char16_t* const* table = threatScanHooks().favoriteFolders;
    if (table == nullptr) table = kFavoriteFolders;
    SendOVMsg(SCANMSG_DEBUG, u" DoScanFavoriteLocation start");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Favorite Location ...");
    const std::u16string user = currentUserName();
    for (size_t i = 0; !endOfTable(table[i]); ++i) {
        std::u16string folder = folderFor(table[i], user);
        SendOVMsg(SCANMSG_DEBUG, u" DoScanFavoriteLocation folder: %s [%d](%s)", folder.c_str(),
                  static_cast<int>(i), table[i]);
        // Only folders on the system drive are walked.
        if (folder.size() > 2 && (folder[0] == u'C' || folder[0] == u'c')) {
            FindF(folder.c_str(), 1);
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u" DoScanFavoriteLocation end");
    return 1;
}

int32_t DoScanTempFolderLocation() {
    if (RunFlag() != 1) return 0;
    SendOVMsg(SCANMSG_DEBUG, u" DoScanTempFolderLocation start");
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Temp Folders...");
    {
        // Held for the whole walk: the archive scan extracts into this folder.
        std::lock_guard<std::recursive_mutex> lock(TempFolderLock());
        std::u16string folder = platform::tempPath();
        if (!folder.empty() && folder.size() < 261) {
            SendOVMsg(SCANMSG_DEBUG, u"DoScanTempFolderLocation folder: %s", folder.c_str());
            if (folder.back() == u'\\') folder.pop_back();
            if (folder.size() > 2) FindF(folder.c_str(), 1);
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u" DoScanTempFolderLocation end");
    return 1;
}

int32_t DoScanCookiesLocations() {
    if (RunFlag() != 1) return 0;
    SendOVMsg(SCANMSG_DEBUG, u" DoScanCookiesLocations start");
    const std::u16string user = currentUserName();
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Cookies Location ...");
    walkTable(kCookiesFolders, user);
    SendOVMsg(SCANMSG_DEBUG, u" DoScanCookiesLocations end");
    return 1;
}

int32_t DoScanImportentFilesLocs() {
    SendOVMsg(SCANMSG_DEBUG, u"----------------------------> DoScanImportentFilesLocs Start");
    int32_t count = 0;
    for (size_t i = 0; !endOfTable(kImportantFolders[i]); ++i) {
        SendOVMsg(SCANMSG_DEBUG, u"  DoScanImportentFilesLocs %s", kImportantFolders[i]);
        count = FindF(kImportantFolders[i], 1);
    }
    SendOVMsg(SCANMSG_DEBUG,
              u" DoScanImportentFilesLocs %d objects scanned End <----------------------------",
              static_cast<int>(count));
    return 1;
}
