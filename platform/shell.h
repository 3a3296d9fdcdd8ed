// Opening things for the user the way this desktop does: a file in the
// program the user chose for its type, a web page in the browser (xdg-open). The program is started
// with the path as its one argument, never through a shell, and is not
// waited for.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Starts xdg-open on a file (Windows form). 0 when the opener was started,
// 2 when xdg-open is not installed, else the start's error code.
[[nodiscard]] uint32_t openFileForUser(std::u16string_view path);

// Starts a program (argv[0] an absolute path or a name in PATH) detached from
// this process: it is not killed or waited for, and it leaves no zombie
// behind. Nothing of the arguments is interpreted. 0 when it was started.
[[nodiscard]] uint32_t startDetachedProgram(const std::vector<std::string>& argv);

// Opens a web page in the user's browser: starts xdg-open (found in PATH)
// with the address as its only argument, in a session of its own, and does
// not wait for it. Only http:// and https:// addresses are opened. 0 when
// the process was created; 87 for another kind of address, 2 when xdg-open
// is not installed, else the error of the start.
[[nodiscard]] uint32_t openWebPage(const std::u16string& address);

}  // namespace platform
