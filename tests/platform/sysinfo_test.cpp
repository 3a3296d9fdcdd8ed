#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "platform/text.h"

namespace {

TEST(SysInfo, UserNameIsTheEffectiveUsersLogin) {
    std::u16string name;
    ASSERT_EQ(platform::userName(name), 0u);
    passwd* entry = ::getpwuid(::geteuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(name, platform::toUtf16(entry->pw_name));
}

TEST(SysInfo, ComputerNameIsTheHostName) {
    std::u16string name;
    ASSERT_EQ(platform::computerName(name), 0u);
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(name, platform::toUtf16(host));
}

}  // namespace
