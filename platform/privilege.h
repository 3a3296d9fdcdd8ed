// Named privileges, mapped to Linux capabilities:
// SeBackupPrivilege -> CAP_DAC_READ_SEARCH, SeDebugPrivilege -> CAP_SYS_PTRACE,
// SeShutdownPrivilege -> CAP_SYS_BOOT, SeSecurityPrivilege -> CAP_AUDIT_CONTROL,
// SeLoadDriverPrivilege -> CAP_SYS_MODULE, SeCreateGlobalPrivilege -> CAP_IPC_OWNER.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace platform {

// Enables the privilege: success only when its capability is in the
// effective set, raising it from the permitted set if needed. Returns 0, or
// 1300 (not all assigned) when the process does not hold it, 1313 for an
// unknown name. Sets the last error to the same code.
[[nodiscard]] uint32_t enablePrivilege(std::u16string_view name);

// Leaves the calling thread only the privileges named (those it holds), and
// every other privilege of the system (every Linux capability) is gone from
// it for good: the threads it starts from then on inherit no more, and
// neither does a program it starts, even as root. Other threads of the
// process keep theirs. 0, 1313 for an unknown name, else the error of the
// change (the thread's privileges are then unchanged).
[[nodiscard]] uint32_t keepOnlyPrivilegesOnThisThread(
    std::initializer_list<std::u16string_view> names);

// The privileges the calling thread holds in effect, by name (those of the
// table above); for checks and tests.
[[nodiscard]] bool threadHoldsPrivilege(std::u16string_view name);
// Whether the calling thread holds any capability in effect besides those
// of the named privileges.
[[nodiscard]] bool threadHoldsOtherCapabilities(std::initializer_list<std::u16string_view> names);

// Whether this process runs as the administrator (root), who alone may
// change the system's own folders and services.
[[nodiscard]] bool runningAsAdministrator();

}  // namespace platform
