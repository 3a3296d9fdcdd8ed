// Replacing a file in one step, as ReplaceFile does.
#pragma once
#include <cstdint>
#include <string_view>

namespace platform {

// Puts `replacement` in the place of `target` so that at every moment
// `target` names either the old file or the whole new one: the replacement
// is flushed to disk and renamed over the target. When the target exists
// and `backup` is not empty, the old file is kept under `backup` first
// (replacing an older backup). Symbolic links are never followed: a link
// at any of the three names is refused (5). 0, or 2 when the replacement
// is missing, else the error of the step that failed; on failure the target
// is as it was.
[[nodiscard]] uint32_t replaceFile(std::u16string_view target, std::u16string_view replacement,
                                   std::u16string_view backup);

}  // namespace platform
