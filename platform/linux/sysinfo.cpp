// User and computer name.
#include "platform/sysinfo.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {

namespace {
constexpr uint32_t kErrorNoneMapped = 1332;
}

uint32_t userName(std::u16string& out) {
    out.clear();
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 4096);
    for (;;) {
        passwd entry{};
        passwd* result = nullptr;
        int rc = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0) return setLastErrorFromErrno(rc);
        if (result == nullptr || result->pw_name == nullptr || result->pw_name[0] == '\0') {
            setLastError(kErrorNoneMapped);
            return kErrorNoneMapped;
        }
        out = toUtf16(result->pw_name);
        setLastError(kErrorSuccess);
        return kErrorSuccess;
    }
}

uint32_t computerName(std::u16string& out) {
    out.clear();
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return setLastErrorFromErrno(errno);
    out = toUtf16(host);
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
