#include "platform/privilege.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/error.h"

namespace {

struct Privilege {
    const char16_t* name;
    int capability;
};

constexpr Privilege kAllPrivileges[] = {
    {u"SeBackupPrivilege", CAP_DAC_READ_SEARCH}, {u"SeDebugPrivilege", CAP_SYS_PTRACE},
    {u"SeShutdownPrivilege", CAP_SYS_BOOT},      {u"SeSecurityPrivilege", CAP_AUDIT_CONTROL},
    {u"SeLoadDriverPrivilege", CAP_SYS_MODULE},  {u"SeCreateGlobalPrivilege", CAP_IPC_OWNER},
};

// Whether this process holds the capability in its permitted set (a
// container may run root without some of them).
bool permitted(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return data[capability / 32].permitted & (1u << (capability % 32));
}

// Changes this process's capability sets for one capability: removes it
// from the effective set, and from the permitted and bounding sets too when
// dropAll is set. Raw system calls, so the test needs no libcap of its own.
bool dropCapability(int capability, bool dropAll) {
    // Leaving the bounding set needs CAP_SETPCAP, which a container may lack;
    // leaving the permitted set is enough to lose the capability for good.
    if (dropAll) (void)prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const unsigned word = unsigned(capability) / 32, bit = 1u << (capability % 32);
    data[word].effective &= ~bit;
    if (dropAll) {
        data[word].permitted &= ~bit;
        data[word].inheritable &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
}

// Runs fn in a forked child; returns its exit code, or -1.
template <class Fn>
int inChild(Fn fn) {
    pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(Privilege, UnknownNameIs1313) {
    EXPECT_EQ(platform::enablePrivilege(u"SeMadeUpPrivilege"), 1313u);
    EXPECT_EQ(platform::lastError(), 1313u);
    EXPECT_EQ(platform::enablePrivilege(u""), 1313u);
}

TEST(Privilege, ProcessWithoutTheCapabilityGets1300) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, which holds the capabilities";
    for (const auto& p : kAllPrivileges)
        EXPECT_EQ(platform::enablePrivilege(p.name), permitted(p.capability) ? 0u : 1300u);
    EXPECT_EQ(platform::enablePrivilege(u"sebackupprivilege"),
              permitted(CAP_DAC_READ_SEARCH) ? 0u : 1300u);

    // Dropped everywhere: the driver privilege cannot be had; the rest can.
    int rc = inChild([] {
        if (!dropCapability(CAP_SYS_MODULE, true)) return 10;
        if (platform::enablePrivilege(u"SeLoadDriverPrivilege") != 1300) return 11;
        if (platform::lastError() != 1300) return 12;
        for (const auto& p : kAllPrivileges) {
            if (p.capability == CAP_SYS_MODULE) continue;
            if (platform::enablePrivilege(p.name) != (permitted(p.capability) ? 0u : 1300u))
                return 13;
        }
        return 0;
    });
    EXPECT_EQ(rc, 0);

    // Only out of the effective set: it is raised again from the permitted set.
    if (!permitted(CAP_SYS_PTRACE))
        GTEST_SKIP() << "CAP_SYS_PTRACE is not permitted here: raising a privilege again from the "
                        "permitted set is not checked";
    rc = inChild([] {
        if (!dropCapability(CAP_SYS_PTRACE, false)) return 10;
        if (platform::enablePrivilege(u"SeDebugPrivilege") != 0) return 11;
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0) return 12;
        return (data[CAP_SYS_PTRACE / 32].effective & (1u << (CAP_SYS_PTRACE % 32))) ? 0 : 13;
    });
    EXPECT_EQ(rc, 0);
}

}  // namespace
