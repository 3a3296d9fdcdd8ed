// Loaded device drivers: the kernel modules of this machine and the files
// they were loaded from.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

struct LoadedDriver {
    std::string name;          // module name as the kernel lists it ("ext4", "snd_hda_intel")
    uint64_t loadAddress = 0;  // 0 when the kernel hides addresses from this account
};

// Where the driver facts come from; empty members mean this machine's own
// (/proc/modules and /lib/modules/<running kernel release>). Tests point
// them at files of their own.
struct DriverSources {
    std::string modulesList;  // host path of a /proc/modules style list
    std::string modulesRoot;  // host folder holding modules.dep
};

// Every loaded kernel module, in the kernel's order. 0 and the list (empty
// on a kernel without loadable modules); otherwise the error reading it.
[[nodiscard]] uint32_t listLoadedDrivers(std::vector<LoadedDriver>& out,
                                         const DriverSources& sources = {});

// The module files of this kernel by module name (modules.dep).
class DriverFiles {
public:
    // 0 with the index loaded; 2 or 3 when modules.dep is missing (the
    // index is then empty and every lookup fails).
    [[nodiscard]] static uint32_t load(const DriverSources& sources, DriverFiles& out);

    // The Windows-form path of the file a module was loaded from. 0 and the
    // path; 2 when the module has no file (built in, or not in the index).
    [[nodiscard]] uint32_t fileName(std::string_view moduleName, std::u16string& out) const;

    size_t size() const { return m_files.size(); }

private:
    std::unordered_map<std::string, std::string> m_files;  // normalised name -> host path
};

}  // namespace platform
