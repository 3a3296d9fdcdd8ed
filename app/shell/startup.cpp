#include "app/shell/startup.h"

#include <cstdlib>
#include <cstring>

#include "app/shell/app_log.h"
#include "app/shell/shell_state.h"
#include "common/registry_names.h"
#include "common/update_caller.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/privilege.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

StartupLog gStartupLog;
ShellProcess gShellProcess;

namespace {

// Path is kept in a 512-character buffer.
constexpr size_t kPathUnits = 512;

}  // namespace

std::u16string AppLogFileName(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{floor<seconds>(when - day)};
    std::u16string name =
        platform::format16(u"..\\logs\\OrvaneApp_%d.%d.%d.%d.%d.%d.log", unsigned(date.month()),
                           unsigned(date.day()), int(date.year()), int(time.hours().count()),
                           int(time.minutes().count()), int(time.seconds().count()));
    if (name.size() > kPathUnits - 1) name.resize(kPathUnits - 1);
    return name;
}

uint32_t GetRegValue(const char16_t* subKey, const char16_t* valueName, void* data,
                     uint32_t* size) {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, subKey, key) != 0) return 0;
    const uint32_t status = key.queryValue(valueName, nullptr, data, size);
    key.close();
    if (status == 0) return 0;
    if (status == platform::kErrorFileNotFound || status == platform::kErrorMoreData) return 1;
    return status;
}

int32_t EnablePrivilege(const char16_t* name) {
    return platform::enablePrivilege(name) == 0 && platform::lastError() == 0 ? 1 : 0;
}

bool EnableStartupPrivileges(std::u16string* failed) {
    for (const char16_t* name : kStartupPrivileges) {
        if (EnablePrivilege(name) != 1) {
            if (failed != nullptr) *failed = name;
            return false;
        }
    }
    return true;
}

bool StartupLog::Open(const std::u16string& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_file.close();
    // Private (0600) and never through a link planted at its name.
    return platform::File::createLog(path, platform::kShareRead | platform::kShareWrite, m_file) ==
           0;
}

void StartupLog::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_file.close();
}

bool StartupLog::IsOpen() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_file.isOpen();
}

void StartupLog::Write(std::u16string_view text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_file.isOpen()) return;
    const std::string bytes = platform::toUtf16LeBytes(text);
    uint32_t written = 0;
    (void)m_file.write(bytes.data(), static_cast<uint32_t>(bytes.size()), written);
}

int32_t InitAppRegistry() {
    LogEntry(u"InitAppRegistry");
    char16_t path[kPathUnits] = {};
    // The whole buffer is offered, so a Path longer than 255 characters is
    // still read back and not taken for a first start.
    uint32_t size = sizeof(path) - sizeof(char16_t);
    GetRegValue(names::kProductKey, names::kValuePath, path, &size);
    if (platform::length16(path) < 3) {
        std::u16string current = platform::currentDirectory();
        if (current.size() > kPathUnits - 1) current.resize(kPathUnits - 1);
        platform::RegKey key;
        if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key) == 0) {
            // Stored as 512 bytes (the text and zeros after it), or the whole
            // text with its terminator when that is longer.
            std::u16string data = current;
            data.resize(std::max<size_t>(256, current.size() + 1), u'\0');
            const uint32_t pathStatus =
                key.setValue(names::kValuePath, platform::kRegExpandSz, data.data(),
                             static_cast<uint32_t>(data.size() * sizeof(char16_t)));
            const std::u16string_view version = names::kProductVersion;
            const uint32_t versionStatus =
                key.setValue(names::kValueVersion, platform::kRegExpandSz, names::kProductVersion,
                             static_cast<uint32_t>((version.size() + 1) * sizeof(char16_t)));
            if (pathStatus != 0 || versionStatus != 0) {
                gAppLog.Write(u"InitAppRegistry: cannot write Path or Version, code: %u",
                              pathStatus != 0 ? pathStatus : versionStatus);
            }
            key.close();
        }
    }
    if (gShellState.scheduledStart != 1) CheckServiceStartup();
    return 1;
}

void (*gServiceStartupCheck)() = nullptr;

void CheckServiceStartup() {
    LogEntry(u"CheckServiceStartup");
    if (gServiceStartupCheck != nullptr) gServiceStartupCheck();
}

void ShellProcess::Reset() {
    singleInstance.release();
    updater = platform::ChildProcess();
    exitProcess = nullptr;
}

uint32_t AcquireSingleInstance() {
    return platform::NamedMutex::acquire(kSingleInstanceMutex, gShellProcess.singleInstance);
}

uint32_t StartUpdaterProgram() {
    char16_t folder[kPathUnits] = {};
    uint32_t size = sizeof(folder) - sizeof(char16_t);
    GetRegValue(names::kProductKey, names::kValuePath, folder, &size);
    if (platform::length16(folder) > 0) {
        (void)platform::setCurrentDirectory(folder);
    }
    const std::string program = platform::toHostPath(u"ovUpdate");
    if (program.empty()) return platform::kErrorFileNotFound;
    platform::SpawnOptions options;
    options.discardOutput = false;
    // The command line stays empty; the one entry in the updater's own
    // environment tells it that this process started it, so that it waits
    // for this process to end and starts the application again after the
    // update (the logon entry starts it without the entry).
    const uint32_t self = platform::currentProcessId();
    options.environment = {std::string(names::kUpdateCallerVariable) + "=" +
                           names::formatUpdateCaller({self, platform::processStartTime(self)})};
    platform::ChildProcess child;
    const uint32_t status = platform::ChildProcess::spawn({program}, options, child);
    if (status != 0) return status;
    gShellProcess.updater = std::move(child);
    return 0;
}
