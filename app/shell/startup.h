// Start-up of the desktop application without its windows: the per-run log
// name, the single-instance mutex, privileges, the start-up log, the
// first-start registry values and the registry read helper that the whole
// application uses.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "platform/mutex.h"
#include "platform/process.h"

inline constexpr char16_t kSingleInstanceMutex[] = u"OrvaneApp.0";
inline constexpr char16_t kStartupLogName[] = u"..\\logs\\OrvaneInit.log";
inline constexpr char16_t kPrivilegeMessage[] = u"Please Run With Administration Privilege";
inline constexpr char16_t kPrivilegeCaption[] = u"Information...";

// "..\logs\OrvaneApp_<month>.<day>.<year>.<hour>.<minute>.<second>.log" for
// a UTC moment, without leading zeros.
std::u16string AppLogFileName(std::chrono::system_clock::time_point when);

// Reads one value of a key under HKEY_LOCAL_MACHINE into the caller's buffer
// (*size bytes on entry, the value's size on return). 0 on success and also
// when the key cannot be opened (the buffer is then untouched), 1 when the
// value is missing or does not fit, else the error code. Callers preset the
// buffer and judge its content. Safe from any thread.
uint32_t GetRegValue(const char16_t* subKey, const char16_t* valueName, void* data, uint32_t* size);

// The privileges a scan needs, in the order start-up enables them.
inline constexpr const char16_t* kStartupPrivileges[] = {
    u"SeCreateGlobalPrivilege", u"SeBackupPrivilege",   u"SeDebugPrivilege",
    u"SeShutdownPrivilege",     u"SeSecurityPrivilege", u"SeLoadDriverPrivilege",
};

// 1 when the privilege is now enabled, else 0.
int32_t EnablePrivilege(const char16_t* name);

// Enables every start-up privilege, stopping at the first that fails; the
// name that failed goes to *failed.
bool EnableStartupPrivileges(std::u16string* failed = nullptr);

// The start-up log "..\logs\OrvaneInit.log": plain UTF-16LE lines from the
// service check, open only while InitAppRegistry runs. Writes while it is
// closed are skipped.
class StartupLog {
public:
    bool Open(const std::u16string& path = kStartupLogName);
    void Close();
    bool IsOpen() const;
    // Writes the text as UTF-16LE without a terminating zero.
    void Write(std::u16string_view text);

private:
    mutable std::mutex m_lock;
    platform::File m_file;
};

extern StartupLog gStartupLog;

// First start (Path missing or shorter than 3 characters): records the
// current directory as Path and the product version; then the start-up
// service check. Always 1.
int32_t InitAppRegistry();

// The start-up check of the real-time protection service; skipped while the
// scheduled-start flag is set. It runs gServiceStartupCheck, which the
// desktop application sets to its service control's check (null: nothing
// more than the log line, as for the shell's own tests).
void CheckServiceStartup();
extern void (*gServiceStartupCheck)();

// What the process holds for its whole run, and how it ends itself. Tests
// reset it and replace the exit with a recorder.
struct ShellProcess {
    platform::NamedMutex singleInstance;
    platform::ChildProcess updater;
    std::function<void(int)> exitProcess;

    void Reset();
};

extern ShellProcess gShellProcess;

// 0 when this process is now the only instance; 183 when another runs.
uint32_t AcquireSingleInstance();

// Starts "ovUpdate" from the program folder recorded in Path (which also
// becomes the current directory), with no arguments; its environment alone
// carries this process as the updater's caller (common/update_caller.h), so
// that it starts the application again. 0 when it started.
uint32_t StartUpdaterProgram();
