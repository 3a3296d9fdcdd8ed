// Text for the terminal: names of files come from whoever made the files,
// so nothing in them may reach the terminal as a control sequence.
#pragma once
#include <string>
#include <string_view>

// UTF-8 for the terminal. C0 and C1 control characters (ESC, CR, BEL, ...),
// DEL and the bidirectional overrides become "<U+001B>"; a byte of a host
// name that is not UTF-8 (kept as U+DC80..U+DCFF) becomes "<xFF>".
std::string TerminalText(std::u16string_view text);

// A Windows-form path for the terminal. A path holding a host name's byte
// that Windows form cannot show (a backslash inside a name, a byte that is
// not UTF-8) is shown in host form, as the file system names it.
std::string TerminalPath(std::u16string_view windowsPath);
