// Named privileges, mapped to Linux capabilities:
// SeBackupPrivilege -> CAP_DAC_READ_SEARCH, SeDebugPrivilege -> CAP_SYS_PTRACE,
// SeShutdownPrivilege -> CAP_SYS_BOOT, SeSecurityPrivilege -> CAP_AUDIT_CONTROL,
// SeLoadDriverPrivilege -> CAP_SYS_MODULE, SeCreateGlobalPrivilege -> CAP_IPC_OWNER.
#pragma once
#include <cstdint>
#include <string_view>

namespace platform {

// Enables the privilege: success only when its capability is in the
// effective set, raising it from the permitted set if needed. Returns 0, or
// 1300 (not all assigned) when the process does not hold it, 1313 for an
// unknown name. Sets the last error to the same code.
[[nodiscard]] uint32_t enablePrivilege(std::u16string_view name);

}  // namespace platform
