#include "platform/library.h"

#include <dlfcn.h>

#include <utility>

#include "platform/error.h"

namespace platform {

Library::~Library() { unload(); }

Library::Library(Library&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        unload();
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

uint32_t Library::load(const std::string& hostPath, Library& out, std::string* error) {
    out.unload();
    void* handle = dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) {
            const char* why = dlerror();
            *error = why ? why : "cannot load " + hostPath;
        }
        setLastError(kErrorModNotFound);
        return kErrorModNotFound;
    }
    out.m_handle = handle;
    setLastError(0);
    return 0;
}

void* Library::symbol(const char* name) const {
    if (!m_handle || !name) {
        setLastError(kErrorInvalidHandle);
        return nullptr;
    }
    void* address = dlsym(m_handle, name);
    setLastError(address ? 0 : kErrorProcNotFound);
    return address;
}

void Library::unload() {
    if (m_handle) dlclose(std::exchange(m_handle, nullptr));
}

}  // namespace platform
