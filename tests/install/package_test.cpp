// The Debian package made from this build tree: its name, control fields,
// contents and maintainer scripts, lintian's verdict, and its programs
// unpacked into a temporary root (dpkg-deb -x) setting it up and scanning.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "install/install_test_support.h"

namespace fs = std::filesystem;
using installtest::Quote;
using installtest::Shell;

namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool haveTool(const char* name) { return Shell(std::string("command -v ") + name).status == 0; }

// The package the test package_build made in OV_PACKAGE_DIR; each test
// unpacks what it needs into its own folder.
class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps"})
            if (!haveTool(tool))
                GTEST_SKIP() << tool << " is not installed (scripts/bootstrap installs dpkg-dev)";
        auto arch = Shell("dpkg --print-architecture");
        const std::string architecture = arch.out.substr(0, arch.out.find('\n'));
        m_package =
            fs::path(OV_PACKAGE_DIR) / ("orvane_" OV_PACKAGE_VERSION "_" + architecture + ".deb");
        ASSERT_TRUE(fs::exists(m_package)) << m_package << " (made by the test package_build)";
    }
    std::string field(const char* name) {
        auto run = Shell("dpkg-deb -f " + Quote(m_package.string()) + " " + name);
        EXPECT_EQ(run.status, 0) << run.out;
        return run.out.substr(0, run.out.find_last_not_of('\n') + 1);
    }

    installtest::TempFolder m_dir;
    fs::path m_package;
};

TEST_F(PackageTest, ControlFieldsNameTheProductAndItsDependencies) {
    EXPECT_EQ(field("Package"), "orvane");
    EXPECT_EQ(field("Version"), OV_PACKAGE_VERSION);
    EXPECT_EQ(field("Section"), "utils");
    EXPECT_NE(field("Maintainer").find("Orvane"), std::string::npos);
    const std::string description = field("Description");
    EXPECT_EQ(description.rfind("anti-malware scanner with real-time protection\n Orvane finds", 0),
              0u)
        << description;
    EXPECT_EQ(description.find("\n ;"), std::string::npos) << description;

    // What the programs run, and the libraries they link as Debian names
    // them (found by dpkg-shlibdeps, never written by hand).
    const std::string depends = field("Depends");
    for (const char* package : {"7zip", "xdg-utils", "pkexec", "libc6", "libstdc++6",
                                "libsqlite3-0", "libssl3", "libcap2", "libsystemd0"})
        EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;
    if (fs::exists(fs::path(OV_BIN_DIR) / "Orvane")) {
        EXPECT_NE(depends.find("libqt6widgets6"), std::string::npos) << depends;
    }
    EXPECT_EQ(depends.find("libovplatform"), std::string::npos) << depends;
}

TEST_F(PackageTest, HoldsTheInstallationAndTheMaintainerScripts) {
    auto list = Shell("dpkg-deb -c " + Quote(m_package.string()));
    ASSERT_EQ(list.status, 0) << list.out;
    for (const char* path :
         {" ./opt/orvane/bin/orvane-setup", " ./opt/orvane/bin/orvane-scan",
          " ./opt/orvane/bin/ovdb", " ./opt/orvane/bin/ovreg", " ./opt/orvane/bin/libov_core.so",
          " ./opt/orvane/bin/libovplatform.so", " ./opt/orvane/data/", " ./opt/orvane/logs/",
          " ./opt/orvane/jobs/", " ./opt/orvane/infected/", " ./usr/share/doc/orvane/copyright",
          " ./usr/share/doc/orvane/changelog.gz", " ./usr/share/lintian/overrides/orvane"})
        EXPECT_NE(list.out.find(std::string(path) + "\n"), std::string::npos) << path;
    for (const char* program : {"Orvane", "ovfilemsg"}) {
        if (fs::exists(fs::path(OV_BIN_DIR) / program)) {
            EXPECT_NE(list.out.find(std::string(" ./opt/orvane/bin/") + program + "\n"),
                      std::string::npos)
                << program;
        }
    }
    EXPECT_NE(list.out.find("drwx------ root/root"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("registry.db"), std::string::npos);

    const fs::path control = m_dir.path() / "control";
    auto extract =
        Shell("dpkg-deb -e " + Quote(m_package.string()) + " " + Quote(control.string()));
    ASSERT_EQ(extract.status, 0) << extract.out;
    const std::string postinst = readText(control / "postinst");
    const std::string prerm = readText(control / "prerm");
    const std::string postrm = readText(control / "postrm");
    EXPECT_NE(postinst.find("/opt/orvane/bin/orvane-setup --system"), std::string::npos);
    EXPECT_NE(prerm.find("/opt/orvane/bin/orvane-setup --uninstall"), std::string::npos);
    EXPECT_NE(postrm.find("purge"), std::string::npos);
    EXPECT_NE(postrm.find("\"$root/infected\""), std::string::npos);
    for (const char* script : {"postinst", "prerm", "postrm"}) {
        EXPECT_EQ(fs::status(control / script).permissions() & fs::perms::mask, fs::perms(0755))
            << script;
        auto syntax = Shell("sh -n " + Quote((control / script).string()));
        EXPECT_EQ(syntax.status, 0) << script << "\n" << syntax.out;
    }
}

TEST_F(PackageTest, LintianFindsNoError) {
    if (!haveTool("lintian")) GTEST_SKIP() << "lintian is not installed (scripts/bootstrap)";
    auto lintian = Shell("lintian --fail-on error " + Quote(m_package.string()));
    EXPECT_EQ(lintian.status, 0) << lintian.out;
    EXPECT_EQ(lintian.out.find("\nE: "), std::string::npos) << lintian.out;
    EXPECT_NE(lintian.out.rfind("E: ", 0), 0u) << lintian.out;
}

TEST_F(PackageTest, UnpackedProgramsSetUpTheirRootAndScan) {
    if (::geteuid() != 0) GTEST_SKIP() << "the engine needs the privileges of root";
    const fs::path unpacked = m_dir.path() / "unpacked";
    auto extract =
        Shell("dpkg-deb -x " + Quote(m_package.string()) + " " + Quote(unpacked.string()));
    ASSERT_EQ(extract.status, 0) << extract.out;
    installtest::ExpectInstalledProgramsScan(unpacked / "opt" / "orvane", m_dir.path() / "scratch");

    // What postinst runs, in a sandbox: the menu entry and polkit action of
    // the unpacked programs.
    const fs::path share = m_dir.path() / "share";
    auto system = Shell("env -u ORVANE_REGISTRY ORVANE_APPLICATIONS_DIR=" +
                        Quote((share / "applications").string()) +
                        " ORVANE_POLKIT_ACTIONS_DIR=" + Quote((share / "actions").string()) +
                        " ORVANE_ICONS_DIR=" + Quote((share / "icons").string()) + " " +
                        Quote((unpacked / "opt/orvane/bin/orvane-setup").string()) +
                        " --system --root " + Quote((unpacked / "opt/orvane").string()));
    ASSERT_EQ(system.status, 0) << system.out;
    EXPECT_NE(readText(share / "applications" / "orvane.desktop")
                  .find("Exec=pkexec " + (unpacked / "opt/orvane/bin/Orvane").string()),
              std::string::npos);
    EXPECT_TRUE(fs::exists(share / "actions" / "org.orvane.app.policy"));
}

// The maintainer scripts as dpkg runs them: install, install again, remove,
// purge, in a private mount namespace that leaves the machine as it was.
TEST_F(PackageTest, DpkgInstallsRemovesAndPurgesInAPrivateNamespace) {
    if (::geteuid() != 0) GTEST_SKIP() << "dpkg and mount namespaces need root";
    auto probe = Shell(
        "unshare -m --propagation private sh -c "
        "'mount -t tmpfs none /mnt && mkdir /mnt/u /mnt/w && mount -t overlay overlay "
        "-o lowerdir=/var/lib/dpkg,upperdir=/mnt/u,workdir=/mnt/w /var/lib/dpkg'");
    if (probe.status != 0)
        GTEST_SKIP() << "no private mount namespace with overlays here: " << probe.out;
    auto run = Shell("unshare -m --propagation private sh " +
                     Quote(OV_SOURCE_DIR "/tests/install/dpkg_lifecycle.sh") + " " +
                     Quote(m_package.string()) + " " + Quote(OV_BIN_DIR "/ovreg"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\nlifecycle: ok\n"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists("/opt/orvane/registry.db"));
}

}  // namespace
