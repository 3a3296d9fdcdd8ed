#include "platform/mutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/path.h"
#include "platform/temp_folder.h"

using platform::NamedMutex;

namespace {

// A child process that takes the mutex, reports through a pipe, and holds it
// until it is killed.
pid_t startHolder(const std::u16string& name) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        NamedMutex held;
        char answer = NamedMutex::acquire(name, held) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &answer, 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    bool ok = pid > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
    if (!ok && pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

}  // namespace

TEST(NamedMutex, HeldByAnotherProcessUntilItDies) {
    ovtest::TempFolder tmp;
    ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", tmp.host("run"));
    pid_t holder = startHolder(u"OrvaneApp.0");
    ASSERT_GT(holder, 0);

    NamedMutex mine;
    EXPECT_EQ(NamedMutex::acquire(u"OrvaneApp.0", mine), 183u);
    EXPECT_FALSE(mine.isHeld());

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(NamedMutex::acquire(u"OrvaneApp.0", mine), 0u);
    EXPECT_TRUE(mine.isHeld());
}

TEST(NamedMutex, OwnedOnceWithinTheProcessAndReleased) {
    ovtest::TempFolder tmp;
    ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", tmp.host("run"));
    NamedMutex first, second;
    ASSERT_EQ(NamedMutex::acquire(u"OrvaneApp.0", first), 0u);
    EXPECT_EQ(NamedMutex::acquire(u"OrvaneApp.0", second), 183u);
    NamedMutex moved = std::move(first);
    EXPECT_FALSE(first.isHeld());
    EXPECT_EQ(NamedMutex::acquire(u"OrvaneApp.0", second), 183u);
    moved.release();
    EXPECT_EQ(NamedMutex::acquire(u"OrvaneApp.0", second), 0u);
    EXPECT_EQ(NamedMutex::acquire(u"", first), 87u);
}

TEST(NamedMutex, NamesAreEscapedIntoOneFolder) {
    ovtest::TempFolder tmp;
    ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", tmp.host("run"));
    // Names that differ only where escaping happens stay distinct mutexes.
    const std::u16string names[] = {
        u"Global\\a/b",      u"Global%5Ca%2Fb",         u"..",
        u"caf\u00e9 \u2603", std::u16string(300, u'x'), std::u16string(300, u'x') + u"y"};
    std::vector<NamedMutex> held(std::size(names));
    for (size_t i = 0; i < std::size(names); ++i)
        EXPECT_EQ(NamedMutex::acquire(names[i], held[i]), 0u) << i;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(tmp.host("run"), ec))
        EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.host("run")),
                            std::filesystem::directory_iterator()),
              static_cast<long>(std::size(names)));
}

TEST(NamedMutex, RefusesARuntimeFolderThatIsALink) {
    ovtest::TempFolder tmp;
    tmp.makeFolder("elsewhere");
    ASSERT_EQ(::symlink(tmp.host("elsewhere").c_str(), tmp.host("run").c_str()), 0);
    ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", tmp.host("run"));
    EXPECT_EQ(platform::runtimeFolderHost(), "");
    NamedMutex mutex;
    EXPECT_EQ(NamedMutex::acquire(u"OrvaneApp.0", mutex), 5u);
}
