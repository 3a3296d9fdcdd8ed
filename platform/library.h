// Shared libraries loaded at run time (LoadLibrary / GetProcAddress /
// FreeLibrary). The library stays loaded while the object lives. Move-only.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

class Library {
public:
    Library() = default;
    ~Library();
    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads a library by host path. 0, or 126 (module not found) with the
    // loader's explanation in *error when given.
    [[nodiscard]] static uint32_t load(const std::string& hostPath, Library& out,
                                       std::string* error = nullptr);

    bool isLoaded() const { return m_handle != nullptr; }
    // The address of an exported symbol; null (last error 127) when absent.
    void* symbol(const char* name) const;
    void unload();

private:
    void* m_handle = nullptr;
};

inline constexpr uint32_t kErrorModNotFound = 126;
inline constexpr uint32_t kErrorProcNotFound = 127;

}  // namespace platform
