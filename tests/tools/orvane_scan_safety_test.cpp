// orvane-scan run as root against what another user could have prepared: a
// missing installation, a link at the report's name, file names made to
// drive the terminal, and a stop while the archiver runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/tools_test_support.h"

using toolstest::ReadFile;
using toolstest::RunTool;
using toolstest::TempInstall;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool IsRoot() { return geteuid() == 0; }

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The report log's name for a moment (UTC), as the scan names it.
std::string ReportName(std::time_t moment) {
    std::tm t{};
    gmtime_r(&moment, &t);
    return "Orvane_" + std::to_string(t.tm_mon + 1) + "." + std::to_string(t.tm_mday) + "." +
           std::to_string(t.tm_year + 1900) + "." + std::to_string(t.tm_hour) + "." +
           std::to_string(t.tm_min) + "." + std::to_string(t.tm_sec) + ".log";
}

// An installation whose database lists the given contents.
void BuildDatabase(TempInstall& install, const std::vector<fs::path>& bad) {
    std::string list;
    for (const auto& file : bad) list += toolstest::Md5Upper(file) + "  x\n";
    const fs::path listFile = install.writeFile("hashes.txt", list);
    auto built = RunTool("ovdb", {"build", install.database().string(), listFile.string()});
    ASSERT_EQ(built.status, 0) << built.err;
}

}  // namespace

// Without an installation (no Path in the registry, or no logs folder beside
// it) no report is written anywhere, and the scan says why and exits 2.
TEST(OrvaneScanSafety, NoInstallationNoReport) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    TempInstall install;
    const fs::path file = install.writeFile("files/a.txt", "anything");
    // Where the report went when the registry named no installation.
    const fs::path cwdLogs = install.root() / "cwd" / "logs";
    fs::create_directories(cwdLogs);
    struct Case {
        const char* what;
        std::function<void()> arrange;
    } cases[] = {
        {"no Path value",
         [] {
             platform::RegKey key;
             ASSERT_EQ(
                 platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key),
                 0u);
             (void)key.deleteValue(names::kValuePath);
         }},
        {"no logs folder",
         [&] {
             ASSERT_EQ(platform::writeString(
                           platform::RegRoot::LocalMachine, names::kProductKey, names::kValuePath,
                           platform::toWindowsPath((install.root() / "bin").string())),
                       0u);
             fs::remove_all(install.root() / "logs");
         }},
    };
    for (const auto& c : cases) {
        c.arrange();
        const std::string command = "cd " + (install.root() / "cwd").string() + " && " +
                                    std::string(OV_BIN_DIR) + "/orvane-scan --file " +
                                    file.string() + " >/dev/null 2>" +
                                    (install.root() / "err").string();
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.what;
        EXPECT_EQ(WEXITSTATUS(status), 2) << c.what;
        const std::string err = ReadFile(install.root() / "err");
        EXPECT_TRUE(Contains(err, "no installation")) << c.what << ": " << err;
        EXPECT_TRUE(fs::is_empty(cwdLogs)) << c.what;
    }
}

// A link planted at the report's name is left as it is, and the file it
// points at is never written; the scan refuses rather than write elsewhere.
TEST(OrvaneScanSafety, LinkAtTheReportsNameLeftUntouched) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    TempInstall install;
    const fs::path file = install.writeFile("files/a.txt", "anything");
    BuildDatabase(install, {install.writeFile("plain/1", "something else")});
    const fs::path victim = install.writeFile("victim.txt", "precious");
    // Links at every name the scan may take in the coming seconds.
    const std::time_t now = std::time(nullptr);
    std::vector<fs::path> links;
    for (int second = -1; second < 20; ++second) {
        links.push_back(install.root() / "logs" / ReportName(now + second));
        fs::create_symlink(victim, links.back());
    }
    auto run = RunTool("orvane-scan", {"--file", file.string()});
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot be created")) << run.err;
    EXPECT_EQ(ReadFile(victim), "precious");
    for (const auto& link : links) EXPECT_TRUE(fs::is_symlink(link)) << link;

    // A file of someone else at that name is not replaced either.
    for (const auto& link : links) fs::remove(link);
    std::vector<fs::path> foreign;
    for (int second = -1; second < 20; ++second) {
        foreign.push_back(install.root() / "logs" / ReportName(std::time(nullptr) + second));
        std::ofstream(foreign.back()) << "a user's file";
        ASSERT_EQ(::chown(foreign.back().c_str(), 65534, 65534), 0);
    }
    run = RunTool("orvane-scan", {"--file", file.string()});
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot be created")) << run.err;
    for (const auto& other : foreign) EXPECT_EQ(ReadFile(other), "a user's file");
}

// The report log and its folder are for root's eyes only.
TEST(OrvaneScanSafety, ReportLogIsPrivate) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    TempInstall install;
    fs::permissions(install.root() / "logs", fs::perms(0755), fs::perm_options::replace);
    const fs::path file = install.writeFile("files/a.txt", "anything");
    BuildDatabase(install, {install.writeFile("plain/1", "something else")});
    auto run = RunTool("orvane-scan", {"--file", file.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    auto logs = install.reportLogs();
    ASSERT_EQ(logs.size(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(logs[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((install.root() / "logs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

// File names cannot drive the terminal: control characters come out
// escaped, and a backslash inside a host name is shown as the host has it.
TEST(OrvaneScanSafety, ControlCharactersEscapedInTextOutput) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    TempInstall install;
    install.setSetting(names::kSmartExt, 0);
    const fs::path folder = install.root() / "tree";
    install.writeFile("tree/a\x1b[2J\r\x07\xc2\x9b.exe", "sneaky one");
    install.writeFile("tree/back\\slash.exe", "slashed one");
    // Hashed under plain names: md5sum escapes names like these.
    BuildDatabase(install, {install.writeFile("plain/1", "sneaky one"),
                            install.writeFile("plain/2", "slashed one")});
    auto run = RunTool("orvane-scan", {"--folder", folder.string()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    for (const char* raw : {"\x1b", "\r", "\x07", "\xc2\x9b"})
        EXPECT_FALSE(Contains(run.out, raw)) << run.out;
    // Walked paths are handed on in lower case.
    std::string lowered = run.out;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(Contains(lowered, "a<u+001b>[2j<u+000d><u+0007><u+009b>.exe")) << run.out;
    EXPECT_TRUE(Contains(run.out, "FOUND Malware: " + folder.string() + "/back\\slash.exe"))
        << run.out;
    EXPECT_FALSE(Contains(run.out, "\xef\xbf\xbd")) << "no replacement character";
}

// A small archive that takes a while to unpack (40 members of 4.5 MiB of
// zeros), in <root>/tree, and a database for the scan.
void BuildSlowArchive(TempInstall& install) {
    install.setSetting(names::kScanArchives, 1);
    const fs::path work = install.root() / "work";
    fs::create_directories(work);
    fs::create_directories(install.root() / "tree");
    install.writeFile("work/m0.bin", std::string(4608 * 1024, '\0'));
    std::vector<std::string> argv = {
        "/usr/bin/7zz", "a", "-bd", "-tzip", "--", (install.root() / "tree" / "slow.zip").string(),
        "m0.bin"};
    for (int i = 1; i < 40; ++i) {
        const std::string name = "m" + std::to_string(i) + ".bin";
        fs::create_hard_link(work / "m0.bin", work / name);
        argv.push_back(name);
    }
    platform::SpawnOptions options;
    options.workingDirectory = work.string();
    platform::ChildProcess archiver;
    ASSERT_EQ(platform::ChildProcess::spawn(argv, options, archiver), 0u);
    ASSERT_EQ(archiver.wait(120s), 0u);
    ASSERT_EQ(archiver.exitCode(), 0u);
    BuildDatabase(install, {install.writeFile("plain/1", "something else")});
}

// Starts orvane-scan on <root>/tree with its runtime folder in <root>/run
// and waits until the archiver has an output folder.
void StartScanUntilExtracting(TempInstall& install, platform::ChildProcess& scan) {
    const fs::path runtime = install.root() / "run";
    ::setenv("ORVANE_RUNTIME_DIR", runtime.c_str(), 1);
    platform::SpawnOptions options;
    ASSERT_EQ(platform::ChildProcess::spawn({std::string(OV_BIN_DIR) + "/orvane-scan", "--quiet",
                                             "--folder", (install.root() / "tree").string()},
                                            options, scan),
              0u);
    ::unsetenv("ORVANE_RUNTIME_DIR");
    const auto started = std::chrono::steady_clock::now();
    bool extracting = false;
    while (!extracting && std::chrono::steady_clock::now() - started < 60s) {
        std::error_code ignored;
        for (const auto& scanFolder : fs::directory_iterator(runtime / "extract", ignored))
            for (const auto& entry : fs::directory_iterator(scanFolder.path(), ignored))
                extracting |= entry.path().filename().string().rfind("ov_", 0) == 0;
        if (!extracting) std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(extracting) << "the archiver never started";
    std::this_thread::sleep_for(100ms);
}

// Whether an archiver started by a scan of this installation still runs
// (its working folder is its output folder, in the installation's runtime
// folder).
bool ArchiverRunning(const TempInstall& install) {
    const std::string runtime = (install.root() / "run").string();
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string cmdline = ReadFile(entry.path() / "cmdline");
        if (!Contains(cmdline, "/proc/self/fd/3")) continue;
        std::error_code ignored;
        const std::string cwd = fs::read_symlink(entry.path() / "cwd", ignored).string();
        if (cwd.rfind(runtime, 0) == 0) return true;
    }
    return false;
}

// SIGTERM while the archiver runs: the scan stops, the archiver is killed
// and its folder removed before orvane-scan ends.
TEST(OrvaneScanSafety, TerminationRemovesTheArchiverAndItsFolder) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    if (!fs::exists("/usr/bin/7zz")) GTEST_SKIP() << "/usr/bin/7zz is not installed";
    TempInstall install;
    BuildSlowArchive(install);
    platform::ChildProcess scan;
    StartScanUntilExtracting(install, scan);
    ASSERT_EQ(::kill(scan.pid(), SIGTERM), 0);
    ASSERT_EQ(scan.wait(60s), 0u);
    EXPECT_EQ(scan.exitCode(), 128u + SIGTERM);
    std::error_code ignored;
    EXPECT_TRUE(fs::is_empty(install.root() / "run" / "extract", ignored))
        << "an extraction folder was left";
    EXPECT_FALSE(ArchiverRunning(install));
}

// A scan killed outright takes its archiver with it, and the next scan
// removes the folder it left.
TEST(OrvaneScanSafety, KilledScansArchiverDiesAndItsFolderGoesNextTime) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    if (!fs::exists("/usr/bin/7zz")) GTEST_SKIP() << "/usr/bin/7zz is not installed";
    TempInstall install;
    BuildSlowArchive(install);
    platform::ChildProcess scan;
    StartScanUntilExtracting(install, scan);
    const fs::path extract = install.root() / "run" / "extract";
    const fs::path left = extract / ("scan-" + std::to_string(scan.pid()));
    scan.kill();  // SIGKILL: nothing of the scan's own runs any more
    const auto killed = std::chrono::steady_clock::now();
    while (ArchiverRunning(install) && std::chrono::steady_clock::now() - killed < 10s)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(ArchiverRunning(install)) << "the archiver outlived the scan";
    EXPECT_TRUE(fs::exists(left)) << "a killed scan leaves its folder";

    fs::remove(install.root() / "tree" / "slow.zip");
    ::setenv("ORVANE_RUNTIME_DIR", (install.root() / "run").c_str(), 1);
    auto run = RunTool("orvane-scan", {"--folder", (install.root() / "tree").string()});
    ::unsetenv("ORVANE_RUNTIME_DIR");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_FALSE(fs::exists(left));
    std::error_code ignored;
    EXPECT_TRUE(fs::is_empty(extract, ignored));
}
