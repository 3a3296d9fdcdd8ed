#include "platform/registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace fs = std::filesystem;
using platform::RegKey;
using platform::RegRoot;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ovreg-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_file = m_dir + "/registry.db";
        setenv("ORVANE_REGISTRY", m_file.c_str(), 1);
        platform::resetRegistryConnection();
    }
    void TearDown() override {
        platform::resetRegistryBusyTimeout();
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, ec);
        fs::remove_all(m_dir, ec);
    }

    // Runs fn in a child process and returns its exit status (or -1).
    template <class Fn>
    static int inChild(Fn fn) {
        pid_t pid = fork();
        if (pid == 0) _exit(fn());
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    // The Debug setting written by another process, as another program's
    // commit; true when the child wrote it.
    static bool writeDebugElsewhere(uint32_t value) {
        auto write = [value] {
            const uint32_t error =
                platform::writeDword(RegRoot::LocalMachine, kSettings, u"Debug", value);
            std::exit(error == 0 ? 0 : 1);
            return 1;
        };
        return inChild(write) == 0;
    }
    static constexpr char16_t kSettings[] = u"SOFTWARE\\Orvane\\Wardline\\Settings";

    std::string m_dir;
    std::string m_file;
};

std::string bytesOf(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

TEST_F(RegistryTest, MissingKeyMissingValueAndShortBuffer) {
    RegKey key;
    // No file yet: reads see an empty registry and create nothing.
    EXPECT_EQ(RegKey::open(RegRoot::LocalMachine, u"SOFTWARE\\Orvane", key), 2u);
    EXPECT_FALSE(key.isOpen());
    EXPECT_FALSE(fs::exists(m_file));

    ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, u"SOFTWARE\\Orvane\\Wardline", key), 0u);
    EXPECT_TRUE(fs::exists(m_file));
    const unsigned char blob[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(key.setValue(u"blob", platform::kRegBinary, blob, sizeof blob), 0u);

    RegKey other;
    EXPECT_EQ(RegKey::open(RegRoot::LocalMachine, u"SOFTWARE\\Orvane\\Missing", other), 2u);
    EXPECT_EQ(RegKey::open(RegRoot::LocalMachine, u"SOFTWARE\\Orvane", other), 0u);

    unsigned char buffer[16] = {};
    uint32_t type = 99, size = sizeof buffer;
    EXPECT_EQ(key.queryValue(u"nothing", &type, buffer, &size), 2u);

    size = 4;
    EXPECT_EQ(key.queryValue(u"blob", &type, buffer, &size), 234u);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buffer[0], 0) << "a short buffer is left untouched";

    size = 0;
    EXPECT_EQ(key.queryValue(u"blob", &type, nullptr, &size), 0u);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, platform::kRegBinary);

    size = sizeof buffer;
    EXPECT_EQ(key.queryValue(u"blob", &type, buffer, &size), 0u);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(bytesOf(buffer, size), bytesOf(blob, sizeof blob));
}

TEST_F(RegistryTest, StringsAreUtf16WithTerminatorAndTypesKeptAsGiven) {
    const std::u16string key = u"SOFTWARE\\Orvane\\Wardline";
    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, key, u"Path", u"C:\\b\u00e9",
                                    platform::kRegExpandSz),
              0u);
    RegKey k;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, key, k), 0u);
    char raw[64];
    uint32_t type = 0, size = sizeof raw;
    ASSERT_EQ(k.queryValue(u"Path", &type, raw, &size), 0u);
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(bytesOf(raw, size), std::string("C\0:\0\\\0b\0\xe9\0\0\0", 12));
    std::u16string back;
    EXPECT_EQ(platform::readString(RegRoot::LocalMachine, key, u"Path", back), 0u);
    EXPECT_EQ(back, u"C:\\b\u00e9");

    // A number type is kept as given, and an empty value is a value.
    const unsigned char feedback[4] = {0x4E, 0x05, 0, 0};
    ASSERT_EQ(k.setValue(u"FeedBack", 16, feedback, 4), 0u);
    ASSERT_EQ(k.setValue(u"empty", platform::kRegBinary, nullptr, 0), 0u);
    size = sizeof raw;
    ASSERT_EQ(k.queryValue(u"FeedBack", &type, raw, &size), 0u);
    EXPECT_EQ(type, 16u);
    uint32_t number = 0;
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, key, u"FeedBack", number), 0u);
    EXPECT_EQ(number, 1358u);
    size = sizeof raw;
    EXPECT_EQ(k.queryValue(u"empty", &type, raw, &size), 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, key, u"Path", number), 234u);
    EXPECT_EQ(platform::readString(RegRoot::LocalMachine, key, u"FeedBack", back), 13u);
}

TEST_F(RegistryTest, EnumerationReportsMoreDataAndTheEnd) {
    RegKey k;
    ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, u"SOFTWARE\\Enum", k), 0u);
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, u"SOFTWARE\\Enum", u"one", 1), 0u);
    ASSERT_EQ(
        platform::writeString(RegRoot::LocalMachine, u"SOFTWARE\\Enum", u"LongerName", u"text"),
        0u);
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, u"SOFTWARE\\Enum", u"two", 2), 0u);
    ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, u"SOFTWARE\\Enum\\Zeta", k), 0u);
    ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, u"SOFTWARE\\Enum\\alpha", k), 0u);
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, u"SOFTWARE\\Enum", k), 0u);

    uint32_t count = 0;
    ASSERT_EQ(k.valueCount(count), 0u);
    EXPECT_EQ(count, 3u);

    struct Case {
        uint32_t index, nameRoom, dataRoom;
        uint32_t status;
        std::u16string name;
        uint32_t nameLength, dataSize;
    };
    const Case cases[] = {
        {0, 64, 64, 0, u"one", 3, 4},           {1, 64, 64, 0, u"LongerName", 10, 10},
        {1, 10, 64, 234, u"", 10, 64},  // no room for the terminator
        {1, 11, 9, 234, u"LongerName", 10, 10}, {2, 64, 64, 0, u"two", 3, 4},
        {3, 64, 64, 259, u"", 64, 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        char16_t name[64] = {};
        unsigned char data[64] = {};
        uint32_t nameLength = c.nameRoom, dataSize = c.dataRoom, type = 0;
        EXPECT_EQ(k.enumValue(c.index, name, &nameLength, &type, data, &dataSize), c.status);
        EXPECT_EQ(std::u16string(name), c.name);
        EXPECT_EQ(nameLength, c.nameLength);
        EXPECT_EQ(dataSize, c.dataSize);
    }

    std::u16string sub;
    EXPECT_EQ(k.enumKey(0, sub), 0u);
    EXPECT_EQ(sub, u"Zeta");
    EXPECT_EQ(k.enumKey(1, sub), 0u);
    EXPECT_EQ(sub, u"alpha");
    EXPECT_EQ(k.enumKey(2, sub), 259u);
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, u"SOFTWARE\\MixedCase\\\u00c4rger",
                                   u"FeedBack", 1),
              0u);
    ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, u"software\\MIXEDCASE\\\u00e4rger",
                                   u"feedback", 7),
              0u);
    RegKey k;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, u"\\Software\\mixedcase\\\u00c4RGER\\", k), 0u);
    uint32_t count = 0, value = 0;
    ASSERT_EQ(k.valueCount(count), 0u);
    EXPECT_EQ(count, 1u);
    char16_t name[32];
    uint32_t nameLength = 32;
    ASSERT_EQ(k.enumValue(0, name, &nameLength, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(std::u16string(name), u"FeedBack");
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, u"SOFTWARE\\MixedCase\\\u00e4rger",
                                  u"FEEDBACK", value),
              0u);
    EXPECT_EQ(value, 7u);

    RegKey parent;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, u"SOFTWARE", parent), 0u);
    std::u16string sub;
    ASSERT_EQ(parent.enumKey(0, sub), 0u);
    EXPECT_EQ(sub, u"MixedCase");
}

TEST_F(RegistryTest, DeleteKeyValueAndTree) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\A\\B\\C", u"v", 1), 0u);
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\A\\B", u"v", 1), 0u);
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\AB", u"v", 2), 0u);
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\A]", u"v", 3), 0u);

    RegKey k;
    ASSERT_EQ(RegKey::open(lm, u"SOFTWARE\\A\\B", k), 0u);
    EXPECT_EQ(k.deleteValue(u"V"), 0u);
    EXPECT_EQ(k.deleteValue(u"v"), 2u);
    EXPECT_EQ(platform::deleteKey(lm, u"SOFTWARE\\A"), 5u) << "a key with sub-keys stays";
    EXPECT_EQ(platform::deleteKey(lm, u"SOFTWARE\\A\\B\\C"), 0u);
    EXPECT_EQ(platform::deleteKey(lm, u"SOFTWARE\\A\\B\\C"), 2u);
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\A\\B\\C\\D", u"v", 1), 0u);
    EXPECT_EQ(platform::deleteTree(lm, u"software\\a"), 0u);
    EXPECT_EQ(RegKey::open(lm, u"SOFTWARE\\A\\B\\C\\D", k), 2u);
    EXPECT_EQ(RegKey::open(lm, u"SOFTWARE\\A", k), 2u);
    EXPECT_EQ(platform::deleteTree(lm, u"SOFTWARE\\A"), 2u);
    EXPECT_EQ(platform::deleteTree(lm, u""), 5u) << "a root cannot go";
    uint32_t v = 0;
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\AB", u"v", v), 0u);
    EXPECT_EQ(v, 2u);
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\A]", u"v", v), 0u);
    EXPECT_EQ(v, 3u);

    // A key removed while open: reads miss, writes say the key is gone.
    ASSERT_EQ(RegKey::create(lm, u"SOFTWARE\\Gone", k), 0u);
    ASSERT_EQ(platform::deleteKey(lm, u"SOFTWARE\\Gone"), 0u);
    uint32_t size = 4;
    EXPECT_EQ(k.queryValue(u"x", nullptr, &v, &size), 2u);
    EXPECT_EQ(k.setValue(u"x", platform::kRegDword, &v, 4), 1018u);
}

TEST_F(RegistryTest, RootAliasesAndKeyPaths) {
    ASSERT_EQ(platform::writeDword(RegRoot::CurrentUser, u"Software\\X", u"v", 5), 0u);
    uint32_t v = 0;
    const std::u16string uid = platform::ascii16(std::to_string(getuid()));
    EXPECT_EQ(platform::readDword(RegRoot::Users, uid + u"\\Software\\X", u"v", v), 0u);
    EXPECT_EQ(v, 5u);
    ASSERT_EQ(platform::writeDword(RegRoot::ClassesRoot, u".ovm", u"v", 6), 0u);
    EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, u"SOFTWARE\\Classes\\.ovm", u"v", v), 0u);
    EXPECT_EQ(v, 6u);

    // A root opens even when nothing was written under it yet.
    RegKey cc;
    ASSERT_EQ(RegKey::open(RegRoot::CurrentConfig, u"", cc), 0u);
    uint32_t count = 9;
    EXPECT_EQ(cc.valueCount(count), 0u);
    EXPECT_EQ(count, 0u);

    struct Case {
        std::u16string text;
        bool ok;
        RegRoot root;
        std::u16string sub;
    };
    const Case cases[] = {
        {u"HKLM\\SOFTWARE\\Orvane\\Wardline", true, RegRoot::LocalMachine,
         u"SOFTWARE\\Orvane\\Wardline"},
        {u"hkey_local_machine\\SOFTWARE\\", true, RegRoot::LocalMachine, u"SOFTWARE"},
        {u"HKCU", true, RegRoot::CurrentUser, u""},
        {u"HKEY_USERS\\S-1", true, RegRoot::Users, u"S-1"},
        {u"HKCR\\.exe", true, RegRoot::ClassesRoot, u".exe"},
        {u"HKEY_CURRENT_CONFIG", true, RegRoot::CurrentConfig, u""},
        {u"HKXX\\SOFTWARE", false, RegRoot::LocalMachine, u""},
        {u"", false, RegRoot::LocalMachine, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::toUtf8(c.text));
        RegRoot root = RegRoot::LocalMachine;
        std::u16string sub;
        ASSERT_EQ(platform::parseKeyPath(c.text, root, sub), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(root, c.root);
        EXPECT_EQ(sub, c.sub);
    }
    EXPECT_EQ(platform::rootName(RegRoot::ClassesRoot, true), u"HKEY_CLASSES_ROOT");
    EXPECT_EQ(platform::rootName(RegRoot::CurrentUser, false), u"HKCU");
}

TEST_F(RegistryTest, ChangeByAnotherProcessIsSeenAtTheNextRead) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Shared", u"counter", 1), 0u);
    uint32_t v = 0;
    ASSERT_EQ(platform::readDword(lm, u"SOFTWARE\\Shared", u"counter", v), 0u);  // now cached
    ASSERT_EQ(v, 1u);

    int rc = inChild([] {
        int code = 0;
        if (platform::writeDword(RegRoot::LocalMachine, u"SOFTWARE\\Shared", u"counter", 2))
            code = 1;
        else if (platform::writeDword(RegRoot::LocalMachine, u"SOFTWARE\\Shared\\New", u"x", 3))
            code = 2;
        // A normal exit closes the child's own connection and leaves the one
        // inherited from the parent alone (the sanitizers' leak check runs too).
        std::exit(code);
        return code;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\Shared", u"counter", v), 0u);
    EXPECT_EQ(v, 2u);
    RegKey k;
    EXPECT_EQ(RegKey::open(lm, u"SOFTWARE\\Shared\\New", k), 0u);

    // Reads after that come from the cache: it is never dropped while
    // nothing changes (how cheap that is, is measured under bench/).
    const uint64_t cached = platform::registryChangeCount();
    for (int i = 0; i < 5000; ++i) {
        v = 0;
        ASSERT_EQ(platform::readDword(lm, u"SOFTWARE\\Shared", u"counter", v), 0u);
        ASSERT_EQ(v, 2u);
    }
    EXPECT_EQ(platform::registryChangeCount(), cached);
}

// A connection holds a lock on the file's log index ("-shm") for as long as
// it is open. Another program that opens the registry and finds no such
// lock takes itself for the index's only user and rebuilds it in place,
// under this process's mapping of it: a bus error at this process's next
// read. Reads, writes and the change look-ups must leave the lock held.
TEST_F(RegistryTest, ThisProcessKeepsItsHoldOnTheLogIndexWhileConnected) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Held", u"v", 1), 0u);
    for (int i = 0; i < 3; ++i) {
        uint32_t v = 0;
        ASSERT_EQ(platform::readDword(lm, u"SOFTWARE\\Held", u"v", v), 0u);
        ASSERT_EQ(v, 1u);
        (void)platform::registryChangeCount();
    }
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Held", u"v", 2), 0u);
    uint32_t v = 0;
    ASSERT_EQ(platform::readDword(lm, u"SOFTWARE\\Held", u"v", v), 0u);

    // An open-file-description lock conflicts with this process's own
    // record locks, so a probe from here sees what another program would.
    const int fd = ::open((m_file + "-shm").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_OFD_GETLK, &probe), 0);
    EXPECT_NE(probe.l_type, F_UNLCK) << "nothing holds the log index any more";
    // The probe's descriptor is closed only once the connection is gone:
    // its close drops this process's locks on the file too.
    platform::resetRegistryConnection();
    ::close(fd);
}

// The change count a scan's receiver takes at every message: still while
// nothing changes, moved at once (no time window) after another process's
// commit and after this process's own write, and the value read then is new.
TEST_F(RegistryTest, ChangeCountMovesAtTheNextCallAfterAnyCommit) {
    const RegRoot lm = RegRoot::LocalMachine;
    const std::u16string key = u"SOFTWARE\\Orvane\\Wardline\\Settings";
    ASSERT_EQ(platform::writeDword(lm, key, u"Debug", 0), 0u);
    uint32_t v = 7;
    ASSERT_EQ(platform::readDword(lm, key, u"Debug", v), 0u);
    const uint64_t still = platform::registryChangeCount();
    EXPECT_EQ(platform::registryChangeCount(), still);
    for (uint32_t round = 1; round <= 3; ++round) {
        const uint64_t before = platform::registryChangeCount();
        int rc = inChild([&] {
            int code = platform::writeDword(RegRoot::LocalMachine, key, u"Debug", round) ? 1 : 0;
            std::exit(code);
            return code;
        });
        ASSERT_EQ(rc, 0);
        const uint64_t after = platform::registryChangeCount();
        EXPECT_NE(after, before) << round;
        ASSERT_EQ(platform::readDword(lm, key, u"Debug", v), 0u);
        EXPECT_EQ(v, round);
        EXPECT_EQ(platform::registryChangeCount(), after);
    }
    const uint64_t beforeOwn = platform::registryChangeCount();
    ASSERT_EQ(platform::writeDword(lm, key, u"Debug", 9), 0u);
    EXPECT_NE(platform::registryChangeCount(), beforeOwn);
    ASSERT_EQ(platform::readDword(lm, key, u"Debug", v), 0u);
    EXPECT_EQ(v, 9u);

    // Another registry file is another set of values.
    const uint64_t beforeSwitch = platform::registryChangeCount();
    setenv("ORVANE_REGISTRY", (m_dir + "/other.db").c_str(), 1);
    EXPECT_NE(platform::registryChangeCount(), beforeSwitch);
    EXPECT_EQ(platform::readDword(lm, key, u"Debug", v), 2u);
}

// The gate a scan's receiver asks at every message: it looks at the first
// call, then not again until the coarse clock has moved on, and then sees a
// change made meanwhile by another process.
TEST_F(RegistryTest, ChangeGateSeesACommitOnceItsIntervalHasPassed) {
    const RegRoot lm = RegRoot::LocalMachine;
    const std::u16string key = u"SOFTWARE\\Orvane\\Wardline\\Settings";
    ASSERT_EQ(platform::writeDword(lm, key, u"Debug", 0), 0u);
    platform::RegistryChangeGate gate;
    EXPECT_TRUE(gate.mayHaveChanged()) << "the first look";
    const auto pastInterval = std::chrono::milliseconds(3 * platform::RegistryChangeGate::kRecheckMs);
    std::this_thread::sleep_for(pastInterval);
    EXPECT_FALSE(gate.mayHaveChanged()) << "nothing changed";
    ASSERT_TRUE(writeDebugElsewhere(1));
    std::this_thread::sleep_for(pastInterval);
    EXPECT_TRUE(gate.mayHaveChanged()) << "another process's commit";
    EXPECT_FALSE(gate.mayHaveChanged()) << "nothing changed since";
}

// A gate that reads the clock at every fourth call only: another process's
// commit is seen at the fourth call after the interval, this process's own
// write at once.
TEST_F(RegistryTest, ChangeGateReadingTheClockAtEveryFourthCall) {
    const RegRoot lm = RegRoot::LocalMachine;
    const std::u16string key = u"SOFTWARE\\Orvane\\Wardline\\Settings";
    ASSERT_EQ(platform::writeDword(lm, key, u"Debug", 0), 0u);
    platform::RegistryChangeGate gate(4);
    EXPECT_TRUE(gate.mayHaveChanged()) << "the first look";
    ASSERT_TRUE(writeDebugElsewhere(1));
    std::this_thread::sleep_for(
        std::chrono::milliseconds(3 * platform::RegistryChangeGate::kRecheckMs));
    for (int call = 1; call < 4; ++call) EXPECT_FALSE(gate.mayHaveChanged()) << "call " << call;
    EXPECT_TRUE(gate.mayHaveChanged()) << "the fourth call reads the clock";
    ASSERT_EQ(platform::writeDword(lm, key, u"Debug", 0), 0u);
    EXPECT_TRUE(gate.mayHaveChanged()) << "this process's own write";
}

// The variable is read at every cached read without a search of the
// environment; every way of changing it is still seen at once.
TEST_F(RegistryTest, EveryChangeOfTheVariableIsSeenAtOnce) {
    const std::string first = m_dir + "/first.db", second = m_dir + "/second.db";
    struct Step {
        const char* what;
        std::function<void()> change;
        std::string expected;  // empty: the installation's own file
    } steps[] = {
        {"set", [&] { setenv("ORVANE_REGISTRY", first.c_str(), 1); }, first},
        {"another variable added", [] { setenv("OV_TEST_OTHER", "1", 1); }, first},
        {"replaced", [&] { setenv("ORVANE_REGISTRY", second.c_str(), 1); }, second},
        {"set to the first again", [&] { setenv("ORVANE_REGISTRY", first.c_str(), 1); }, first},
        {"a variable before it removed", [] { unsetenv("OV_TEST_OTHER"); }, first},
        {"removed", [] { unsetenv("ORVANE_REGISTRY"); }, ""},
        {"another variable added while absent", [] { setenv("OV_TEST_OTHER", "2", 1); }, ""},
        {"set while absent", [&] { setenv("ORVANE_REGISTRY", second.c_str(), 1); }, second},
        {"emptied", [] { setenv("ORVANE_REGISTRY", "", 1); }, ""},
    };
    const std::string own = [] {
        unsetenv("ORVANE_REGISTRY");
        return platform::registryFilePath();
    }();
    for (const Step& step : steps) {
        step.change();
        const std::string expected = step.expected.empty() ? own : step.expected;
        EXPECT_EQ(platform::registryFilePath(), expected) << step.what;
        EXPECT_TRUE(platform::isRegistryFilePath(expected)) << step.what;
    }
    unsetenv("OV_TEST_OTHER");
}

TEST_F(RegistryTest, ThreadsShareTheConnection) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::u16string name = u"t" + platform::ascii16(std::to_string(t));
            for (uint32_t i = 0; i < 50; ++i) {
                EXPECT_EQ(platform::writeDword(RegRoot::LocalMachine, u"SOFTWARE\\T", name, i), 0u);
                uint32_t v = 99;
                EXPECT_EQ(platform::readDword(RegRoot::LocalMachine, u"SOFTWARE\\T", name, v), 0u);
                EXPECT_EQ(v, i);
            }
        });
    }
    for (auto& t : threads) t.join();
    RegKey k;
    uint32_t count = 0;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, u"SOFTWARE\\T", k), 0u);
    ASSERT_EQ(k.valueCount(count), 0u);
    EXPECT_EQ(count, 4u);
}

TEST_F(RegistryTest, WriterKilledMidWriteLeavesAConsistentFile) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeString(lm, u"SOFTWARE\\Orvane\\Wardline", u"Version", u"1.0.1.310"),
              0u);
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Orvane\\Wardline\\Settings", u"SmartExt", 1),
              0u);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        std::string big(1 << 20, '\0');
        for (unsigned round = 0;; ++round) {
            std::memset(big.data(), int('a' + round % 26), big.size());
            RegKey k;
            if (RegKey::create(lm, u"SOFTWARE\\Orvane\\Big", k)) _exit(1);
            if (k.setValue(u"blob", platform::kRegBinary, big.data(), uint32_t(big.size())))
                _exit(2);
            if (platform::deleteTree(lm, u"SOFTWARE\\Orvane\\Tree")) {
            }
            for (int i = 0; i < 20; ++i)
                (void)platform::writeDword(
                    lm, u"SOFTWARE\\Orvane\\Tree\\K" + platform::ascii16(std::to_string(i)), u"v",
                    round);
            if (round == 0) (void)!write(ready[1], "r", 1);
        }
    }
    ASSERT_GT(pid, 0);
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    platform::resetRegistryConnection();
    EXPECT_EQ(platform::checkRegistryIntegrity(), 0u);
    std::u16string version;
    uint32_t smart = 0;
    EXPECT_EQ(platform::readString(lm, u"SOFTWARE\\Orvane\\Wardline", u"Version", version), 0u);
    EXPECT_EQ(version, u"1.0.1.310");
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\Orvane\\Wardline\\Settings", u"SmartExt", smart),
              0u);
    EXPECT_EQ(smart, 1u);
    // The big value is whole: one round's bytes, never a mix.
    RegKey k;
    ASSERT_EQ(RegKey::open(lm, u"SOFTWARE\\Orvane\\Big", k), 0u);
    std::string big(1 << 20, '\0');
    uint32_t size = uint32_t(big.size());
    ASSERT_EQ(k.queryValue(u"blob", nullptr, big.data(), &size), 0u);
    ASSERT_EQ(size, big.size());
    EXPECT_EQ(big.find_first_not_of(big[0]), std::string::npos);
    // And the file still takes writes.
    EXPECT_EQ(platform::writeDword(lm, u"SOFTWARE\\Orvane\\Big", u"after", 1), 0u);
}

TEST_F(RegistryTest, UnusableFilesGiveErrorCodes) {
    const RegRoot lm = RegRoot::LocalMachine;
    struct Case {
        const char* what;
        std::string path;
        uint32_t readStatus, writeStatus;
    };
    std::string garbage = m_dir + "/garbage.db";
    std::ofstream(garbage) << std::string(8192, 'x');
    fs::create_directory(m_dir + "/folder.db");
    const Case cases[] = {
        {"missing file", m_dir + "/none.db", 2, 0},
        {"not a database", garbage, 1016, 1016},
        {"a folder", m_dir + "/folder.db", 1016, 1016},
        {"missing folder", m_dir + "/no/such/registry.db", 2, 1016},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("ORVANE_REGISTRY", c.path.c_str(), 1);
        uint32_t v = 0;
        EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\X", u"v", v), c.readStatus);
        RegKey k;
        EXPECT_EQ(RegKey::open(lm, u"SOFTWARE\\X", k), c.readStatus);
        EXPECT_EQ(platform::writeDword(lm, u"SOFTWARE\\X", u"v", 1), c.writeStatus);
    }
    // The garbage file was not touched.
    std::ifstream in(garbage);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, std::string(8192, 'x'));
}

// A file whose header is a database's but whose later pages are damaged:
// the check says so (1015), reads and writes fail instead of answering from
// the wreck, and the file is left as it was for whoever repairs it.
TEST_F(RegistryTest, DamagedPagesBehindAGoodHeaderAreReported) {
    const RegRoot lm = RegRoot::LocalMachine;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(
            platform::writeString(lm, u"SOFTWARE\\Filler\\K" + platform::toUtf16(std::to_string(i)),
                                  u"v", std::u16string(100, u'x')),
            0u);
    }
    ASSERT_EQ(platform::checkRegistryIntegrity(), 0u);
    platform::resetRegistryConnection();  // the last connection folds the log into the file
    ASSERT_FALSE(fs::exists(m_file + "-wal") && fs::file_size(m_file + "-wal") > 0);
    std::string bytes;
    {
        std::ifstream in(m_file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(bytes.size(), 8192u);
    const size_t page =
        static_cast<size_t>(static_cast<uint8_t>(bytes[16])) << 8 | static_cast<uint8_t>(bytes[17]);
    ASSERT_GE(page, 512u);
    for (size_t i = page; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5 ^ (i * 7));
    std::ofstream(m_file, std::ios::binary | std::ios::trunc) << bytes;

    EXPECT_EQ(platform::checkRegistryIntegrity(), 1015u);
    uint32_t v = 0;
    std::u16string text;
    EXPECT_NE(platform::readString(lm, u"SOFTWARE\\Filler\\K7", u"v", text), 0u);
    EXPECT_NE(platform::writeDword(lm, u"SOFTWARE\\Other", u"v", 1), 0u);
    EXPECT_NE(platform::readDword(lm, u"SOFTWARE\\Other", u"v", v), 0u);
    platform::resetRegistryConnection();
    std::ifstream in(m_file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
}

// Another process that holds the file's write lock longer than a call waits
// makes a write give up with 170 (busy) rather than hang or claim success;
// reads still answer, and the write goes through once the lock is let go.
TEST_F(RegistryTest, AWriteLockHeldPastTheBusyTimeoutFailsBusy) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Locked", u"v", 1), 0u);
    platform::resetRegistryConnection();  // no connection is carried into the child
    int held[2], release[2];
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        // Holds the lock until told to let go, or for 30 s: longer than the
        // shortened waits take, far shorter than the normal ones.
        close(held[0]);
        close(release[1]);
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(m_file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            _exit(1);
        }
        const char byte = 1;
        if (write(held[1], &byte, 1) != 1) _exit(2);
        pollfd wait{release[0], POLLIN, 0};
        poll(&wait, 1, 30000);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        _exit(0);
    }
    ASSERT_GT(holder, 0);
    close(held[1]);
    close(release[0]);
    char byte = 0;
    ASSERT_EQ(read(held[0], &byte, 1), 1) << "the other process could not take the lock";
    close(held[0]);

    platform::setRegistryBusyTimeout(50);
    EXPECT_EQ(platform::writeDword(lm, u"SOFTWARE\\Locked", u"v", 2), 170u);
    uint32_t v = 0;
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\Locked", u"v", v), 0u);
    EXPECT_EQ(v, 1u);
    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(platform::writeDword(lm, u"SOFTWARE\\Locked", u"v", 3), 0u);
    platform::resetRegistryBusyTimeout();
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\Locked", u"v", v), 0u);
    EXPECT_EQ(v, 3u);
}

TEST_F(RegistryTest, ReadOnlyFileReadsButRefusesWrites) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\RO", u"v", 42), 0u);
    platform::resetRegistryConnection();
    ASSERT_EQ(chmod(m_file.c_str(), 0444), 0);
    // Others may pass through the folder and create the shared-memory index
    // beside the file, as in a system install where /opt/orvane is writable
    // by the service only.
    ASSERT_EQ(chmod(m_dir.c_str(), 01777), 0);
    int rc = inChild([] {
        // Root writes through file modes; an unprivileged user does not.
        if (geteuid() == 0 && (setresgid(65534, 65534, 65534) || setresuid(65534, 65534, 65534)))
            return 77;
        uint32_t v = 0;
        if (platform::readDword(RegRoot::LocalMachine, u"SOFTWARE\\RO", u"v", v) != 0) return 11;
        if (v != 42) return 12;
        if (platform::writeDword(RegRoot::LocalMachine, u"SOFTWARE\\RO", u"v", 1) != 5) return 13;
        RegKey k;
        if (RegKey::create(RegRoot::LocalMachine, u"SOFTWARE\\RO\\New", k) != 5) return 14;
        if (platform::readDword(RegRoot::LocalMachine, u"SOFTWARE\\RO", u"v", v) != 0) return 15;
        return v == 42 ? 0 : 16;
    });
    if (rc == 77) GTEST_SKIP() << "cannot leave root to test a read-only file";
    EXPECT_EQ(rc, 0);
}

}  // namespace

namespace {

TEST_F(RegistryTest, ConcurrentWritersInSeveralProcessesAllSucceed) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Many", u"start", 1), 0u);
    std::vector<pid_t> children;
    for (int c = 0; c < 3; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            std::u16string key = u"SOFTWARE\\Many\\P" + platform::ascii16(std::to_string(c));
            for (uint32_t i = 0; i < 60; ++i) {
                if (platform::writeDword(lm, key, u"v", i)) _exit(1);
                uint32_t v = 0;
                if (platform::readDword(lm, key, u"v", v) || v != i) _exit(2);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    for (int c = 0; c < 3; ++c) {
        uint32_t v = 0;
        EXPECT_EQ(platform::readDword(
                      lm, u"SOFTWARE\\Many\\P" + platform::ascii16(std::to_string(c)), u"v", v),
                  0u);
        EXPECT_EQ(v, 59u);
    }
}

// Several processes hammer one key for a few seconds: each writes its own
// numbered values, reads the others' values, lists the key and makes and
// deletes a sub-key tree, all at once. No call may fail (a busy file is
// waited for, never reported), and no write may be lost.
TEST_F(RegistryTest, SustainedContentionLosesNothingAndNeverReportsBusy) {
    const RegRoot lm = RegRoot::LocalMachine;
    const std::u16string shared = u"SOFTWARE\\Contended";
    ASSERT_EQ(platform::writeDword(lm, shared, u"start", 1), 0u);
    constexpr int kProcesses = 4;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int counts[2];
    ASSERT_EQ(pipe(counts), 0);
    std::vector<pid_t> children;
    for (int c = 0; c < kProcesses; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            close(counts[0]);
            platform::resetRegistryConnection();  // a connection of its own
            const std::u16string me = u"P" + platform::ascii16(std::to_string(c)) + u"_";
            const std::u16string tree = shared + u"\\T" + platform::ascii16(std::to_string(c));
            uint32_t i = 0;
            for (; std::chrono::steady_clock::now() < until; ++i) {
                const std::u16string name = me + platform::ascii16(std::to_string(i));
                if (platform::writeDword(lm, shared, name, i)) _exit(1);
                uint32_t v = 0;
                if (platform::readDword(lm, shared, name, v) || v != i) _exit(2);
                const std::u16string other =
                    u"P" + platform::ascii16(std::to_string((c + 1) % kProcesses)) + u"_0";
                uint32_t status = platform::readDword(lm, shared, other, v);
                if (status != 0 && status != 2) _exit(3);
                RegKey key;
                uint32_t n = 0;
                if (RegKey::open(lm, shared, key) || key.valueCount(n)) _exit(4);
                if (platform::writeString(lm, tree + u"\\Sub", u"s", u"x")) _exit(5);
                if (platform::deleteTree(lm, tree)) _exit(6);
            }
            (void)!write(counts[1], &i, sizeof i);
            _exit(0);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    close(counts[1]);
    std::vector<uint32_t> written;
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "exit " << WEXITSTATUS(status);
    }
    uint32_t n = 0;
    while (read(counts[0], &n, sizeof n) == sizeof n) written.push_back(n);
    close(counts[0]);
    ASSERT_EQ(written.size(), size_t(kProcesses));

    platform::resetRegistryConnection();
    EXPECT_EQ(platform::checkRegistryIntegrity(), 0u);
    RegKey key;
    ASSERT_EQ(RegKey::open(lm, shared, key), 0u);
    uint32_t total = 0, expected = 1;
    for (uint32_t w : written) expected += w;
    ASSERT_EQ(key.valueCount(total), 0u);
    EXPECT_EQ(total, expected);
    EXPECT_GT(expected, uint32_t(kProcesses));  // every process got writes through
    std::u16string left;
    EXPECT_EQ(key.enumKey(0, left), 259u) << "a deleted tree came back";
}

TEST_F(RegistryTest, SettingTheFilePathSwitchesRegistries) {
    const RegRoot lm = RegRoot::LocalMachine;
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Which", u"v", 1), 0u);
    std::string other = m_dir + "/other.db";
    platform::setRegistryFilePath(other);
    EXPECT_EQ(platform::registryFilePath(), other);
    uint32_t v = 0;
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\Which", u"v", v), 2u);
    ASSERT_EQ(platform::writeDword(lm, u"SOFTWARE\\Which", u"v", 2), 0u);
    platform::setRegistryFilePath(m_file);
    EXPECT_EQ(platform::readDword(lm, u"SOFTWARE\\Which", u"v", v), 0u);
    EXPECT_EQ(v, 1u);
}

}  // namespace
