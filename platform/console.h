// The program's console: whether a standard stream is a terminal.
#pragma once

namespace platform {

enum class StandardStream { Input, Output, Error };

// True when the stream is an interactive terminal (not a file or a pipe).
bool isTerminal(StandardStream stream);

}  // namespace platform
