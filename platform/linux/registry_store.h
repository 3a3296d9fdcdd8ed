// The registry's storage: one SQLite connection per process over the file
// registryFilePath() names, with a read cache revalidated by
// PRAGMA data_version. Internal to platform/linux; callers use registry.h.
//
// Keys live in hives (HKLM, HKU, HKCC); HKCU and HKCR are resolved to places
// inside them before they reach here. A key is named by its hive and its
// path below the hive's root ("" is the root itself), components separated by
// one backslash. Every function is thread-safe and returns a Windows error
// code.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::regstore {

enum Hive : int { kHiveLocalMachine = 0, kHiveUsers = 1, kHiveCurrentConfig = 2 };

struct KeyPlace {
    int hive = kHiveLocalMachine;
    std::u16string path;  // normalised: no empty components, no outer backslashes
};

struct Value {
    std::u16string name;  // as it was first written
    uint32_t type = 0;
    std::string data;  // raw bytes
};

using ValueList = std::shared_ptr<const std::vector<Value>>;
using NameList = std::shared_ptr<const std::vector<std::u16string>>;

// 0 when the key exists, 2 when it does not (also when the registry file
// does not exist), 1016 when the file cannot be read.
uint32_t keyExists(const KeyPlace& key);
// Creates the key and its missing parents (and the file when needed).
uint32_t createKey(const KeyPlace& key);
// Every value of a key in creation order; 2 when the key is missing.
uint32_t listValues(const KeyPlace& key, ValueList& out);
// One value; 2 when the key or the value is missing.
uint32_t getValue(const KeyPlace& key, std::u16string_view name, Value& out);
// Sub-key names of a key in creation order; 2 when the key is missing.
uint32_t listSubKeys(const KeyPlace& key, NameList& out);
// Writes a value into an existing key (1018 when the key is gone), or into
// the key after creating it when createMissing is set.
uint32_t setValue(const KeyPlace& key, std::u16string_view name, uint32_t type,
                  std::string_view data, bool createMissing);
// 2 when the key or the value is missing.
uint32_t deleteValue(const KeyPlace& key, std::u16string_view name);
// Deletes a key; with recursive unset it must have no sub-keys (5
// otherwise). The hive roots cannot be deleted (5).
uint32_t deleteKey(const KeyPlace& key, bool recursive);
// PRAGMA integrity_check: 0 when "ok", 1015 when the file is damaged, 2 when
// there is no file.
uint32_t integrityCheck();
// Moves whenever what this process has cached may be out of date.
uint64_t changeCount();
// Moves whenever this process dropped its cache (its own writes among
// them), without a lock or a look at the file: one atomic load.
uint64_t localChangeCount();
// Forgets the connection and the cache.
void reset();
// How long a call waits on another connection's write lock before it tries
// again, for the connections opened from now on (the current one is
// dropped); for tests. resetBusyTimeout() puts the normal time back.
void setBusyTimeout(uint32_t milliseconds);
void resetBusyTimeout();

}  // namespace platform::regstore
