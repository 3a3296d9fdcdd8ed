// The registry: keys and typed values under HKLM, HKCU (= HKU\<uid>), HKU,
// HKCR (= HKLM\SOFTWARE\Classes) and HKCC. The 32- and 64-bit views coincide.
//
// One SQLite file per installation: $ORVANE_REGISTRY, else registry.db in the
// install root (the parent of the running program's folder). WAL mode and a
// busy timeout let every program use it at once; a process killed in the
// middle of a write leaves it consistent. Names are case-insensitive and
// case-preserving. Values are raw bytes plus a type, so REG_SZ holds UTF-16LE
// with its terminator exactly as Windows stores it. Reads are cached and
// revalidated with PRAGMA data_version, so a change by any process is seen at
// the next read.
//
// Status codes: 0 success, 2 missing key or value, 5 access denied (read-only
// file), 234 buffer too small (with the size needed), 259 no more items,
// 1016 the registry file cannot be opened or written.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegRoot { LocalMachine, CurrentUser, Users, ClassesRoot, CurrentConfig };

inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// An open key. Cheap to copy around by move; closing forgets the key.
class RegKey {
public:
    RegKey() = default;
    RegKey(RegKey&&) noexcept = default;
    RegKey& operator=(RegKey&&) noexcept = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // 2 when the key does not exist.
    [[nodiscard]] static uint32_t open(RegRoot root, std::u16string_view subKey, RegKey& out);
    // Creates the key and every missing parent; opens it when it exists.
    [[nodiscard]] static uint32_t create(RegRoot root, std::u16string_view subKey, RegKey& out);

    bool isOpen() const { return m_open; }
    void close() { m_open = false; }

    // RegQueryValueEx: data may be null to ask for the size. *size is the
    // buffer size in bytes on entry and the value's size on return. 234 when
    // the buffer is too small (size set to what is needed, data untouched).
    // type may be null. 2 when the value is missing.
    [[nodiscard]] uint32_t queryValue(std::u16string_view name, uint32_t* type, void* data,
                                      uint32_t* size) const;
    [[nodiscard]] uint32_t setValue(std::u16string_view name, uint32_t type, const void* data,
                                    uint32_t size) const;
    [[nodiscard]] uint32_t deleteValue(std::u16string_view name) const;

    // RegEnumValue: *nameLength is the name buffer in UTF-16 units (with room
    // for the terminator) on entry and the name's length on return; data and
    // dataSize as in queryValue (both may be null). 234 when the name or the
    // data does not fit, 259 past the last value. Values are listed in the
    // order they were created.
    [[nodiscard]] uint32_t enumValue(uint32_t index, char16_t* name, uint32_t* nameLength,
                                     uint32_t* type, void* data, uint32_t* dataSize) const;
    [[nodiscard]] uint32_t valueCount(uint32_t& count) const;

    // Sub-key names in the order they were created; 259 past the last one.
    [[nodiscard]] uint32_t enumKey(uint32_t index, std::u16string& name) const;

    RegRoot root() const { return m_root; }
    const std::u16string& path() const { return m_path; }

private:
    RegRoot m_root = RegRoot::LocalMachine;
    std::u16string m_path;  // normalised sub-key path
    bool m_open = false;
};

// Deletes a key with no sub-keys (5 when it has some), as RegDeleteKey.
[[nodiscard]] uint32_t deleteKey(RegRoot root, std::u16string_view subKey);
// Deletes a key and everything below it.
[[nodiscard]] uint32_t deleteTree(RegRoot root, std::u16string_view subKey);

// "HKLM\SOFTWARE\x", "HKEY_LOCAL_MACHINE\SOFTWARE\x", "HKCU", ... Returns
// false for an unknown root.
bool parseKeyPath(std::u16string_view fullPath, RegRoot& root, std::u16string& subKey);
std::u16string rootName(RegRoot root, bool longForm);  // "HKLM" or "HKEY_LOCAL_MACHINE"

// Conveniences over RegKey.
// REG_SZ/REG_EXPAND_SZ as UTF-16LE with terminator.
[[nodiscard]] uint32_t writeString(RegRoot root, std::u16string_view subKey,
                                   std::u16string_view name, std::u16string_view value,
                                   uint32_t type = kRegSz);
[[nodiscard]] uint32_t readString(RegRoot root, std::u16string_view subKey,
                                  std::u16string_view name, std::u16string& value);
[[nodiscard]] uint32_t writeDword(RegRoot root, std::u16string_view subKey,
                                  std::u16string_view name, uint32_t value);
[[nodiscard]] uint32_t readDword(RegRoot root, std::u16string_view subKey, std::u16string_view name,
                                 uint32_t& value);

// Where the registry file of this process is ($ORVANE_REGISTRY or the
// install root's registry.db). Read at each open, so a test can point it
// elsewhere by changing the variable.
std::string registryFilePath();
// Whether path is that file now; unlike comparing with registryFilePath()
// it allocates nothing, for checks made at every cached read.
bool isRegistryFilePath(const std::string& path);

// Points this process (and the programs it starts) at another registry
// file, as setting ORVANE_REGISTRY does; an empty path returns to the
// install root's registry.db. The next registry call reopens.
void setRegistryFilePath(const std::string& path);

// Checks the registry file's structure (SQLite integrity check): 0 when it
// is sound, 1015 when it is damaged, 2 when there is no file.
[[nodiscard]] uint32_t checkRegistryIntegrity();

// A number that moves whenever a value this process reads may have changed
// since the number was last taken: a commit by any process, a write by this
// one, another registry file. A reader that keeps a value re-reads it when
// the number moved; taking the number costs no system call while nothing
// changed, so it can be done for every message of a scan.
uint64_t registryChangeCount();

// For a reader asked many times a millisecond (every message of a scan):
// says whether a value it keeps may have changed since its last look, taking
// the change count again once the system's coarse clock, which costs no
// system call and no lock, has moved on by kRecheckMs, and at once after a
// write of this process. A change made elsewhere is seen within that time.
class RegistryChangeGate {
public:
    static constexpr int64_t kRecheckMs = 10;
    RegistryChangeGate() = default;
    // For a reader asked millions of times a scan (every trace): the clock is
    // read only at every callsPerClockLook-th call, so a change made
    // elsewhere is seen within kRecheckMs and that many calls; this
    // process's own writes are still seen at once.
    explicit RegistryChangeGate(uint32_t callsPerClockLook)
        : m_callsPerClockLook(callsPerClockLook ? callsPerClockLook : 1) {}
    // True at the first call and whenever the change count moved.
    bool mayHaveChanged();

private:
    uint32_t m_callsPerClockLook = 1;
    uint32_t m_callsSinceClock = 0;
    bool m_looked = false;
    uint64_t m_changes = 0;
    uint64_t m_localChanges = 0;
    int64_t m_nextLookMs = 0;
};

// Drops this process's connection and cache (the next call reopens); for
// tests that switch registry files and for programs before exec.
void resetRegistryConnection();

// Shortens how long a call waits on a write lock another process holds
// before it tries again (five tries in all; normally 10 s each); for tests.
// Drops the connection like resetRegistryConnection.
void setRegistryBusyTimeout(uint32_t milliseconds);
void resetRegistryBusyTimeout();

}  // namespace platform
