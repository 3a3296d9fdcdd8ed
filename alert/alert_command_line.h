// The infected file's path as the alert program receives it: everything
// after the program's own name. The service hands the path over as one
// argument; a path split into several arguments (by a caller that went
// through a shell) is joined again with one blank, so a path with blanks
// arrives whole. Nothing is taken as an option: a path that starts with "-"
// or holds a line break is the path.
#pragma once
#include <string>
#include <vector>

// arguments: the program's arguments without its own name, as host bytes.
std::u16string AlertPathFromArguments(const std::vector<std::string>& arguments);
