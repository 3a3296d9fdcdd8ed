// The archiver of a scan run: the installed 7-Zip console program, run from
// where it is installed. Nothing is written into the shared temp folder, so
// no other user can swap the program between its creation and its start.
#include <string>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

std::u16string g_tempFolder;
std::string g_archiver;

// 7zz is the full console program of the 7zip package; older systems only
// have the 7z front end (p7zip) or the standalone 7za.
const char* const kArchiverNames[] = {"7zz", "7z", "7za"};

constexpr size_t kTempPathUnits = 260;

}  // namespace

const std::u16string& TempFolderPath() { return g_tempFolder; }
const std::string& ArchiverPath() { return g_archiver; }

void ForgetUnzipRes() {
    g_tempFolder.clear();
    g_archiver.clear();
}

int32_t LoadUnzipRes() {
    ForgetUnzipRes();
    std::u16string temp = platform::tempPath();
    if (temp.empty() || temp.size() >= kTempPathUnits) {
        SendOVMsg(SCANMSG_DEBUG, u" [ERROR] LoadUnzipRes::get temp path failed");
        return 0;
    }
    g_tempFolder = temp;
    SendOVMsg(SCANMSG_DEBUG, u" [DEBUG] LoadUnzipRes::Temp Path: %s", g_tempFolder.c_str());

    std::string found;
    for (const char* name : kArchiverNames) {
        found = platform::findProgramInPath(name);
        if (!found.empty()) break;
    }
    if (found.empty()) {
        SendOVMsg(SCANMSG_DEBUG, u" [ERROR] LoadUnzipRes::find resource failed (%d)",
                  static_cast<int>(platform::kErrorFileNotFound));
        return 0;
    }
    g_archiver = found;
    std::u16string shown = platform::toUtf16(found);
    SendOVMsg(SCANMSG_DEBUG, u" LoadUnzipRes::Ended OK, EXE: %s", shown.c_str());
    return 1;
}
