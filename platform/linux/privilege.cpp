#include "platform/privilege.h"

#include <sys/capability.h>

#include <array>
#include <memory>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {

namespace {

struct PrivilegeCapability {
    std::u16string_view name;
    cap_value_t capability;
};

constexpr std::array<PrivilegeCapability, 6> kPrivileges = {{
    {u"SeBackupPrivilege", CAP_DAC_READ_SEARCH},
    {u"SeDebugPrivilege", CAP_SYS_PTRACE},
    {u"SeShutdownPrivilege", CAP_SYS_BOOT},
    {u"SeSecurityPrivilege", CAP_AUDIT_CONTROL},
    {u"SeLoadDriverPrivilege", CAP_SYS_MODULE},
    {u"SeCreateGlobalPrivilege", CAP_IPC_OWNER},
}};

struct CapFree {
    void operator()(cap_t caps) const { cap_free(caps); }
};
using CapState = std::unique_ptr<std::remove_pointer_t<cap_t>, CapFree>;

uint32_t finish(uint32_t code) {
    setLastError(code);
    return code;
}

}  // namespace

uint32_t enablePrivilege(std::u16string_view name) {
    const PrivilegeCapability* found = nullptr;
    // Privilege names are looked up without regard to case, as on Windows.
    for (const auto& p : kPrivileges)
        if (equalsIgnoreCase(p.name, name)) found = &p;
    if (!found) return finish(kErrorNoSuchPrivilege);

    CapState caps(cap_get_proc());
    if (!caps) return finish(kErrorNotAllAssigned);
    cap_flag_value_t effective = CAP_CLEAR, permitted = CAP_CLEAR;
    if (cap_get_flag(caps.get(), found->capability, CAP_EFFECTIVE, &effective) != 0 ||
        cap_get_flag(caps.get(), found->capability, CAP_PERMITTED, &permitted) != 0)
        return finish(kErrorNotAllAssigned);
    if (effective == CAP_SET) return finish(kErrorSuccess);
    if (permitted != CAP_SET) return finish(kErrorNotAllAssigned);

    cap_value_t list[1] = {found->capability};
    if (cap_set_flag(caps.get(), CAP_EFFECTIVE, 1, list, CAP_SET) != 0 ||
        cap_set_proc(caps.get()) != 0)
        return finish(kErrorNotAllAssigned);
    return finish(kErrorSuccess);
}

}  // namespace platform
