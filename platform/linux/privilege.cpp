#include "platform/privilege.h"

#include <sys/capability.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <vector>

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

const PrivilegeCapability* lookUp(std::u16string_view name) {
    for (const auto& p : kPrivileges)
        if (equalsIgnoreCase(p.name, name)) return &p;
    return nullptr;
}

// The capabilities of named privileges; false when a name is unknown.
bool capabilitiesOf(std::initializer_list<std::u16string_view> names,
                    std::vector<cap_value_t>& out) {
    for (std::u16string_view name : names) {
        const PrivilegeCapability* found = lookUp(name);
        if (!found) return false;
        out.push_back(found->capability);
    }
    return true;
}

bool isKept(const std::vector<cap_value_t>& kept, cap_value_t capability) {
    return std::find(kept.begin(), kept.end(), capability) != kept.end();
}

// The capabilities this kernel knows.
cap_value_t capabilityCount() {
    const int bits = cap_max_bits();
    return bits > 0 ? static_cast<cap_value_t>(bits) : CAP_LAST_CAP + 1;
}

}  // namespace

uint32_t keepOnlyPrivilegesOnThisThread(std::initializer_list<std::u16string_view> names) {
    std::vector<cap_value_t> kept;
    if (!capabilitiesOf(names, kept)) return finish(kErrorNoSuchPrivilege);
    CapState now(cap_get_proc());
    if (!now) return finish(errorFromErrno(errno));
    // Out of the bounding set first, while this thread may still change it
    // (CAP_SETPCAP): a program started later cannot get them back through
    // its execution as root. Without that right the set stays as it is;
    // the permitted set below is what this thread itself can ever use.
    cap_flag_value_t setpcap = CAP_CLEAR;
    if (cap_get_flag(now.get(), CAP_SETPCAP, CAP_EFFECTIVE, &setpcap) == 0 && setpcap == CAP_SET) {
        for (cap_value_t capability = 0; capability < capabilityCount(); ++capability) {
            if (!isKept(kept, capability) && CAP_IS_SUPPORTED(capability))
                (void)cap_drop_bound(capability);
        }
    }
    CapState next(cap_init());  // every set empty
    if (!next) return finish(errorFromErrno(errno));
    for (cap_value_t capability : kept) {
        cap_flag_value_t permitted = CAP_CLEAR;
        if (cap_get_flag(now.get(), capability, CAP_PERMITTED, &permitted) != 0 ||
            permitted != CAP_SET)
            continue;
        cap_value_t one[1] = {capability};
        cap_flag_value_t effective = CAP_CLEAR;
        (void)cap_get_flag(now.get(), capability, CAP_EFFECTIVE, &effective);
        if (cap_set_flag(next.get(), CAP_PERMITTED, 1, one, CAP_SET) != 0 ||
            (effective == CAP_SET && cap_set_flag(next.get(), CAP_EFFECTIVE, 1, one, CAP_SET) != 0))
            return finish(errorFromErrno(errno));
    }
    // The thread's own sets only (capset acts on the calling thread).
    if (cap_set_proc(next.get()) != 0) return finish(errorFromErrno(errno));
    return finish(kErrorSuccess);
}

bool threadHoldsPrivilege(std::u16string_view name) {
    const PrivilegeCapability* found = lookUp(name);
    if (!found) return false;
    CapState now(cap_get_proc());
    cap_flag_value_t effective = CAP_CLEAR;
    return now && cap_get_flag(now.get(), found->capability, CAP_EFFECTIVE, &effective) == 0 &&
           effective == CAP_SET;
}

bool threadHoldsOtherCapabilities(std::initializer_list<std::u16string_view> names) {
    std::vector<cap_value_t> kept;
    (void)capabilitiesOf(names, kept);
    CapState now(cap_get_proc());
    if (!now) return false;
    for (cap_value_t capability = 0; capability < capabilityCount(); ++capability) {
        if (isKept(kept, capability)) continue;
        cap_flag_value_t effective = CAP_CLEAR;
        if (cap_get_flag(now.get(), capability, CAP_EFFECTIVE, &effective) == 0 &&
            effective == CAP_SET)
            return true;
    }
    return false;
}

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

namespace platform {

bool runningAsAdministrator() { return ::geteuid() == 0; }

}  // namespace platform
