// The full scan (whole drives chosen by the user) and the custom scan (one
// file and/or one folder chosen by the user).
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/walker_paths.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

// "SmartExt" as the full scan reads it: any nonzero DWORD turns the filter on.
int32_t readSmartExt() {
    uint32_t value = 0;
    uint32_t size = sizeof(value);
    ReadMachineValue(names::kSettingsKey, names::kSmartExt, &value, &size);
    return value != 0 ? 1 : 0;
}

// A fixed field of the request as a string, never reading past its end.
std::u16string fieldText(const char16_t* field, size_t units) {
    size_t length = 0;
    while (length < units && field[length] != 0) ++length;
    return std::u16string(field, length);
}

}  // namespace

int32_t doStartFullScanRutine(ScanRequest* request) {
    SendOVMsg(SCANMSG_SCAN_LOCATION, u"Scanning Files & Folders...");
    if (request == nullptr) return 0;
    const std::u16string list = fieldText(request->scanPaths, std::size(request->scanPaths));
    if (list.empty()) return 0;

    // The list holds drive roots one after another, each ending in a
    // backslash ("C:\D:\"). Each root is walked without its backslash, with
    // the smart filter as the setting stands when that drive begins.
    std::u16string token;
    for (char16_t c : list) {
        if (c != u'\\') {
            token += c;
            continue;
        }
        if (RunFlag() == 1) {
            FindF(token.c_str(), readSmartExt() != 0 ? 1 : 0);
        }
        token.clear();
    }
    if (!token.empty()) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"doStartFullScanRutine:: %s does not end in a backslash, not walked",
                  token.c_str());
    }
    return 0;
}

int32_t doStartCustomScanRutine(ScanRequest* request) {
    const int32_t scanArchives = ReadSettingFlag(names::kScanArchives);
    SendOVMsg(SCANMSG_DEBUG, u"doStartCustomScanRutine:: scan start...");
    if (request == nullptr) return 0;

    const std::u16string file = fieldText(request->customFile, std::size(request->customFile));
    if (!file.empty()) {
        SendOVMsg(SCANMSG_DEBUG, u"doStartCustomScanRutine:: scan file %s", file.c_str());
        // The checks lower-case what they are given; the request's own field
        // stays as its owner wrote it.
        std::vector<char16_t> path(file.begin(), file.end());
        path.push_back(0);
        // A FIFO or device named like an archive is never given to the
        // archiver, which would wait on it.
        const uint32_t attributes = platform::getFileAttributes(file);
        const bool device =
            attributes != platform::kInvalidAttributes && (attributes & platform::kAttrDevice) != 0;
        const bool archive = IsArchiveExt(path.data()) != 0 && !device;
        std::u16string handed = PathToHandOn(file, path.data());
        if (archive && scanArchives == 1) {
            SendOVMsg(SCANMSG_DEBUG, u"FindF: Scan In Archive: %s ", handed.c_str());
            std::lock_guard<std::recursive_mutex> lock(ArchiveLock());
            DoScanInArchive(handed.c_str());
        } else {
            std::vector<char16_t> buffer(handed.begin(), handed.end());
            buffer.push_back(0);
            __ScanFile(buffer.data(), nullptr);
        }
    }

    const std::u16string folder =
        fieldText(request->customFolder, std::size(request->customFolder));
    if (!folder.empty()) {
        SendOVMsg(SCANMSG_DEBUG, u"doStartCustomScanRutine:: scan folder %s", folder.c_str());
        // The custom folder is always walked with the smart filter on.
        FindF(folder.c_str(), 1);
    }
    return 0;
}
