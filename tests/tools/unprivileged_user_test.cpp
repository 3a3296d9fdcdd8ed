// The tools run by a normal user beside root's installation: a scan says it
// needs root and how to run it; the registry is read when the user may read
// it, and otherwise refused in words. The user is "nobody", reached with
// setpriv from a test run as root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tools/registry_tool_support.h"

namespace fs = std::filesystem;
using regtool::runTool;

namespace {

class UnprivilegedUserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "switching to another user needs root";
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv (util-linux) is missing";
        // The user must reach the folder; the registry sits in it.
        fs::permissions(m_dir.path(), fs::perms(0755));
        m_registry = m_dir.path() + "/registry.db";
        auto probe = asNobody("ovreg", {"/?"});
        if (probe.exitCode != 0) GTEST_SKIP() << "the build folder is not open to other users";
    }
    regtool::ToolRun asNobody(const std::string& tool, const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--reuid=65534",
                                        "--regid=65534",
                                        "--clear-groups",
                                        "env",
                                        "ORVANE_REGISTRY=" + m_registry,
                                        std::string(OV_BIN_DIR) + "/" + tool};
        all.insert(all.end(), args.begin(), args.end());
        return runTool("/usr/bin/setpriv", all);
    }
    // Root writes a value, as the installer and the application do.
    void writeAsRoot() {
        regtool::EnvironmentValue registry("ORVANE_REGISTRY", m_registry);
        auto run =
            runTool("ovreg", {"add", "HKLM\\SOFTWARE\\Probe", "/v", "Name", "/d", "value", "/f"});
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    }

    regtool::TempFolder m_dir;
    std::string m_registry;
};

TEST_F(UnprivilegedUserTest, ScanSaysItNeedsRootAndHow) {
    auto run = asNobody("orvane-scan", {"--folder", "/tmp/some folder"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err,
              "orvane-scan: a scan needs root (administrator) rights; run it as: sudo orvane-scan "
              "--folder '/tmp/some folder'\n");
    EXPECT_EQ(run.out, "");
}

TEST_F(UnprivilegedUserTest, ReadsARegistryInAFolderItCannotWrite) {
    writeAsRoot();
    fs::permissions(m_registry, fs::perms(0644));
    auto run = asNobody("ovreg", {"query", "HKLM\\SOFTWARE\\Probe", "/v", "Name"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Name    REG_SZ    value"), std::string::npos) << run.out;
}

TEST_F(UnprivilegedUserTest, RefusesInWordsWhatItMayNotRead) {
    writeAsRoot();
    struct Case {
        const char* what;
        fs::perms mode;
        bool dropWalFiles;
    };
    const Case cases[] = {
        {"root's own file", fs::perms(0600), false},
        {"readable, but its WAL files cannot be made", fs::perms(0644), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.dropWalFiles) {
            fs::remove(m_registry + "-wal");
            fs::remove(m_registry + "-shm");
        }
        fs::permissions(m_registry, c.mode);
        auto run = asNobody("ovreg", {"query", "HKLM\\SOFTWARE\\Probe"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "ERROR: Access is denied.\n");
    }
}

}  // namespace
