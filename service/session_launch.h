// Starting a program in the interactive user's session, for the alert of an
// infected file and for a scheduled scan.
#pragma once
#include <cstdint>
#include <string>

namespace ovsvc {

// The command line is a program and what follows it: a quoted program path,
// or the shortest run of words that names an existing program (a trailing
// ".exe" may stand for the program without it), then everything after the
// next blank as one argument. 0 after trying to start the program, 1 when
// the program could not be looked for.
uint32_t LaunchAppIntoDifferentSession(const std::u16string& commandLine);

}  // namespace ovsvc
