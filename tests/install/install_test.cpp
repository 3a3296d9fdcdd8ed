// `cmake --install` of this build tree into a temporary prefix gives the
// installation layout, and the installed programs run from there on their
// own: they find their libraries beside them and set up and scan the root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "install/install_test_support.h"

namespace fs = std::filesystem;
using installtest::Quote;
using installtest::Shell;

namespace {

fs::perms modeOf(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }

class CmakeInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_prefix = m_dir.path() / "prefix";
        auto run = Shell(Quote(OV_CMAKE_COMMAND) + " --install " + Quote(OV_BUILD_DIR) +
                         " --prefix " + Quote(m_prefix.string()));
        ASSERT_EQ(run.status, 0) << run.out;
    }
    installtest::TempFolder m_dir;
    fs::path m_prefix;
};

TEST_F(CmakeInstallTest, LaysOutTheRootWithProgramsAndLibrariesInBin) {
    for (const char* file :
         {"orvane-setup", "orvane-scan", "ovdb", "ovreg", "libov_core.so", "libovplatform.so"})
        EXPECT_TRUE(fs::is_regular_file(m_prefix / "bin" / file)) << file;
    for (const char* program : {"Orvane", "ovfilemsg"}) {
        if (fs::exists(fs::path(OV_BIN_DIR) / program)) {
            EXPECT_TRUE(fs::is_regular_file(m_prefix / "bin" / program)) << program;
        }
    }
    // The test programs and screenshot tools of the build stay out.
    EXPECT_FALSE(fs::exists(m_prefix / "bin" / "ov_screenshots"));
    EXPECT_FALSE(fs::exists(m_prefix / "tests"));
    for (const char* folder : {"data", "logs", "jobs", "infected"}) {
        EXPECT_TRUE(fs::is_directory(m_prefix / folder)) << folder;
        EXPECT_EQ(modeOf(m_prefix / folder), fs::perms(0700)) << folder;
    }
    // What only the package installs (Debian's copyright and changelog,
    // lintian's notes) never lands outside the prefix, nor in it.
    EXPECT_FALSE(fs::exists(m_prefix / "usr"));

    // Each binary looks for its libraries beside itself.
    for (const char* file : {"orvane-scan", "orvane-setup", "libov_core.so"}) {
        auto dynamic = Shell("readelf -d " + Quote((m_prefix / "bin" / file).string()));
        ASSERT_EQ(dynamic.status, 0) << dynamic.out;
        EXPECT_NE(dynamic.out.find("[$ORIGIN]"), std::string::npos) << file << "\n" << dynamic.out;
        EXPECT_EQ(dynamic.out.find(OV_BUILD_DIR), std::string::npos) << file << "\n" << dynamic.out;
    }
    auto libraries =
        Shell("env -u LD_LIBRARY_PATH ldd " + Quote((m_prefix / "bin" / "orvane-scan").string()));
    EXPECT_NE(libraries.out.find("libovplatform.so => " + (m_prefix / "bin").string()),
              std::string::npos)
        << libraries.out;
}

TEST_F(CmakeInstallTest, InstalledProgramsSetUpTheRootAndScan) {
    if (::geteuid() != 0) GTEST_SKIP() << "the engine needs the privileges of root";
    installtest::ExpectInstalledProgramsScan(m_prefix, m_dir.path() / "scratch");
}

}  // namespace

// The build tree is an installation too (scripts/run uses it as one): its
// programs look for their libraries beside themselves and in the system's
// folders, never in the folder they are started from, where anyone may
// have left a library of their own.
TEST(BuildTreeInstallation, ProgramsNeverLoadALibraryFromTheCurrentFolder) {
    installtest::TempFolder cwd;
    for (const char* library :
         {"libsqlite3.so.0", "libstdc++.so.6", "libcrypto.so.3", "libcurl.so.4"})
        ASSERT_EQ(Shell("echo junk > " + Quote((cwd.path() / library).string())).status, 0);
    for (const char* program : {"orvane-scan", "orvane-setup", "ovreg", "ovdb"}) {
        const std::string path = (fs::path(OV_BIN_DIR) / program).string();
        auto run = Shell("cd " + Quote(cwd.path().string()) + " && env -u LD_LIBRARY_PATH " +
                         Quote(path) + " --help < /dev/null");
        EXPECT_EQ(run.out.find("error while loading shared libraries"), std::string::npos)
            << program << "\n"
            << run.out;
        auto dynamic = Shell("readelf -d " + Quote(path));
        EXPECT_NE(dynamic.out.find("[$ORIGIN]"), std::string::npos) << program << "\n"
                                                                    << dynamic.out;
    }
}
