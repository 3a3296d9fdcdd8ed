// Facts about this machine and the running account.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The login name of the effective user, as GetUserName gives it. 0 and the
// name; 1332 when the account has no name (no passwd entry).
[[nodiscard]] uint32_t userName(std::u16string& out);

// The machine's host name, as GetComputerName gives it. 0 and the name.
[[nodiscard]] uint32_t computerName(std::u16string& out);

}  // namespace platform
