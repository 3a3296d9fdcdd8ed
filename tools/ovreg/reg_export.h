// The .reg text of a key and everything below it, as the Windows Registry
// Editor writes it ("Windows Registry Editor Version 5.00"): UTF-16LE with a
// byte-order mark and CRLF line ends.
#pragma once
#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace ovreg {

// Appends the key's block and those of its sub-keys to text (UTF-16).
// displayPath is the key as it is written in the file's brackets. Returns 0
// or the registry's error code.
uint32_t exportKey(platform::RegRoot root, const std::u16string& subKey,
                   const std::u16string& displayPath, std::u16string& text);

// The whole file: header, the key's text, and the final line end, encoded.
std::string regFileBytes(const std::u16string& body);

}  // namespace ovreg
