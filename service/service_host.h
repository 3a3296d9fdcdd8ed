// The service host: start-up, self-installation, the service-control
// plumbing and the publication of the shared status record.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ovsvc {

// The privileges start-up enables, in order.
inline constexpr const char16_t* kServicePrivileges[] = {
    u"SeCreateGlobalPrivilege", u"SeBackupPrivilege",   u"SeDebugPrivilege",
    u"SeShutdownPrivilege",     u"SeSecurityPrivilege", u"SeLoadDriverPrivilege",
};

// main's start-up sequence; returns 0 on every path.
int ServiceProgramMain(int argc, char** argv);

void SvcInstall();
void SvcMain(const std::vector<std::u16string>& arguments);
void ReportSvcStatus(uint32_t currentState, uint32_t exitCode, uint32_t waitHint);
void SvcInit();
uint32_t ControlHandler(uint32_t control, uint32_t eventType);
void ReportServiceFailure(const char* functionName);
bool EnablePrivilege(const char16_t* name);
// 1 after copying the working record into the view; 0 when the named
// mapping cannot be opened.
int UpdateMemoryData();

// The root of the system drive, watched by the service.
std::u16string systemDriveRoot();

// The loop of the service thread; returns when a stop was requested.
void DoFileChangesWatcherThread();

}  // namespace ovsvc
