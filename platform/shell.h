// Opening things for the user the way this desktop does: xdg-open with the
// item as its one argument, never through a shell.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Opens a web page in the user's browser: starts xdg-open (found in PATH)
// with the address as its only argument, in a session of its own, and does
// not wait for it. Only http:// and https:// addresses are opened. 0 when
// the process was created; 87 for another kind of address, 2 when xdg-open
// is not installed, else the error of the start.
[[nodiscard]] uint32_t openWebPage(const std::u16string& address);

}  // namespace platform
