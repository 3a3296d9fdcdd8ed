// The Program Settings dialog's store: the seventeen flags it edits, loaded
// from and saved to the Settings key. No Qt here; the dialog binds its check
// boxes to a SettingsBoxes.
#pragma once
#include <array>
#include <cstdint>
#include <string>

// One check box of the dialog and the flag it stands for.
struct SettingsFlag {
    int32_t controlId;
    const char16_t* valueName;
    const char16_t* text;
};

inline constexpr size_t kSettingsFlagCount = 17;

// The seventeen flags in the order they are saved.
extern const std::array<SettingsFlag, kSettingsFlagCount> kSettingsFlags;

inline constexpr int32_t kSettingsLanguageCombo = 1062;
inline constexpr char16_t kSettingsLanguage[] = u"English";

// What the dialog shows: one state per flag, in the order of kSettingsFlags,
// and the text of the language box.
struct SettingsBoxes {
    std::array<bool, kSettingsFlagCount> checked{};
    std::u16string language;

    // The box with a control id; null for an id that is none of them.
    bool* box(int32_t controlId);
    const bool* box(int32_t controlId) const;
};

// Checks the box of every flag whose value, found by enumerating the key,
// has exactly the flag's name (letter case counts) and whose first four data
// bytes read as the number 1, whatever the value's type; never unchecks a
// box. Sets the language text. 1 when every value was enumerated or the key
// cannot be opened, 0 when an enumeration failed.
int32_t LoadSettingFromReg(SettingsBoxes& boxes);

// Writes every flag as a REG_DWORD of 1 or 0 in the fixed order, going on
// after a failed write. 1 when all seventeen writes succeeded or the key
// cannot be opened (nothing is written then), 0 when one failed.
int32_t SaveSettingFromReg(const SettingsBoxes& boxes);
