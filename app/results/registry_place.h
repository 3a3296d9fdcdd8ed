// The registry value a finding's location text names: deleted when the
// finding is deleted or quarantined, written again when it is restored.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Deletes the value named by a location text. 1 when it was deleted (or
// was not there) or the text names no registry place, 0 when the key cannot
// be opened.
int32_t OVDeleteRegKey(const char16_t* location);

// Writes the restored file's path as the REG_SZ value named by a location
// text. 1 when written, 0 otherwise (the text names no place, or the key or
// value cannot be written; each failure is shown through showError with the
// text the user sees).
using ErrorSink = std::function<void(const std::u16string& text)>;
int32_t OVRestoreRegKey(const char16_t* location, const char16_t* data,
                        const ErrorSink& showError = {});
