#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/path.h"
#include "platform/text.h"
#include "tools/child_run_support.h"
#include "tools/tools_test_support.h"

using toolstest::ReadFile;
using toolstest::RunTool;
using toolstest::TempInstall;
using toolstest::WindowsForm;

namespace {

bool IsRoot() { return geteuid() == 0; }

// An installation whose database lists the content "known bad bytes".
struct ScanSetup {
    TempInstall install;
    std::filesystem::path bad;
    std::filesystem::path clean;
    ScanSetup() {
        bad = install.writeFile("files/bad.bin", "known bad bytes");
        clean = install.writeFile("files/clean.txt", "harmless text");
        auto list = install.writeFile("hashes.txt", toolstest::Md5Upper(bad) + "  bad.bin\n");
        auto built = RunTool("ovdb", {"build", install.database().string(), list.string()});
        EXPECT_EQ(built.status, 0) << built.err;
    }
};

// A drive letter this system does not map.
char UnmappedDrive() {
    for (char letter = 'Z'; letter > 'A'; --letter)
        if (platform::driveRoot(static_cast<char16_t>(letter)).empty()) return letter;
    return 'A';
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// One file scan each: how it exits, what it prints and what its report log
// holds. In the texts, {file} stands for the scanned file as findings show
// it (the custom scan hands its file on lower-cased, as the extension checks
// leave it) and {log} for the report log's path.
TEST(OrvaneScan, AFileScanExitsPrintsAndReportsWhatItFound) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    struct Case {
        const char* name;
        bool listed;       // the file whose content the database lists, or the clean one
        bool windowsForm;  // named in Windows form, taken as it is
        bool database;     // false: the database file is removed first
        int status;
        std::vector<std::string> out;
        std::string err;
        std::string logStart;  // what the report log begins with
        std::vector<std::string> log;
    } cases[] = {
        {"listed file",
         true,
         false,
         true,
         1,
         {"FOUND Malware: {file}\n", "Scan Finished!, 1 Object Scanned, 1 Infected Found.\n",
          "Report: {log}\n"},
         "",
         "\n\r Orvane Anti-Malware (",
         {"\n\r\n\r Scan Type: Custom System Scout\n\r\n\r Started On: ",
          "\n\r Infected Generic Malware: {file} [(null)].\n\r",
          "*** DEBUG *** Scan Finished!, 1 Object Scanned, 1 Infected Found.\n\r",
          "\n\r\n\r Scan Finished!, 1 Object Scanned, 1 Infected Object Found.\n\r\n\r Ended "
          "On: "}},
        {"clean file",
         false,
         true,
         true,
         0,
         {},
         "",
         "\n\r Orvane Anti-Malware (",
         {" Scan Finished!, 1 Object Scanned, No Infected Found."}},
        {"no database", true, false, false, 2, {}, "unable to load db file!", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScanSetup setup;
        if (!c.database) std::filesystem::remove(setup.install.database());
        const std::filesystem::path& file = c.listed ? setup.bad : setup.clean;
        auto run =
            RunTool("orvane-scan", {"--file", c.windowsForm ? WindowsForm(file) : file.string()});
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_EQ(Contains(run.out, "FOUND"), c.listed && c.database) << run.out;
        EXPECT_TRUE(Contains(run.err, c.err)) << run.err;
        const auto logs = setup.install.reportLogs();
        const std::string shown =
            platform::toUtf8(platform::toLower(platform::toUtf16(WindowsForm(file))));
        auto filled = [&](std::string text) {
            for (size_t at; (at = text.find("{file}")) != std::string::npos;)
                text.replace(at, 6, shown);
            for (size_t at; !logs.empty() && (at = text.find("{log}")) != std::string::npos;)
                text.replace(at, 5, logs[0].string());
            return text;
        };
        for (const std::string& part : c.out)
            EXPECT_TRUE(Contains(run.out, filled(part))) << filled(part) << "\n" << run.out;
        if (c.logStart.empty()) continue;
        ASSERT_EQ(logs.size(), 1u);
        const std::string log = ReadFile(logs[0]);
        EXPECT_EQ(log.rfind(c.logStart, 0), 0u) << log;
        for (const std::string& part : c.log)
            EXPECT_TRUE(Contains(log, filled(part))) << filled(part) << "\n" << log;
    }
}

// On a terminal a progress line is drawn on standard error and cleared
// before a finding is written, so that findings and the summary stand on
// lines of their own.
TEST(OrvaneScan, ProgressLineOnATerminal) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    if (::access("/dev/ptmx", R_OK | W_OK) != 0) GTEST_SKIP() << "no pseudo-terminals here";
    ScanSetup setup;
    tooltest::ChildResult run = tooltest::runChild({"orvane-scan",
                                                    {"--file", setup.bad.string()},
                                                    "",
                                                    tooltest::kDefaultDeadline,
                                                    /*terminal=*/true});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    const std::string clear = "\r\033[K";
    const size_t drawn = run.out.find(clear + "0 objects, 0 infected, ");
    const size_t found = run.out.find("FOUND Malware: ");
    const size_t summary = run.out.find("Scan Finished!, 1 Object Scanned, 1 Infected Found.\n");
    ASSERT_NE(drawn, std::string::npos) << run.out;
    ASSERT_NE(found, std::string::npos) << run.out;
    ASSERT_NE(summary, std::string::npos) << run.out;
    EXPECT_LT(drawn, found);
    // Cleared right before the finding; the summary starts a line, and
    // nothing is drawn after it.
    EXPECT_EQ(run.out.rfind(clear, found), found - clear.size()) << run.out;
    EXPECT_EQ(run.out[summary - 1], '\n') << run.out;
    EXPECT_EQ(run.out.find(clear, summary), std::string::npos) << run.out;
    // Without a terminal (standard error a pipe) no line is drawn.
    auto piped = RunTool("orvane-scan", {"--file", setup.bad.string()});
    EXPECT_EQ(piped.err.find(clear), std::string::npos) << piped.err;
}

TEST(OrvaneScan, DebugSettingDecidesWhatTheReportHolds) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    for (uint32_t debug : {0u, 1u}) {
        ScanSetup setup;
        setup.install.setSetting(u"Debug", debug);
        auto run = RunTool("orvane-scan", {"--quiet", setup.bad.string()});
        EXPECT_EQ(run.status, 1) << run.err;
        auto logs = setup.install.reportLogs();
        ASSERT_EQ(logs.size(), 1u);
        const std::string log = ReadFile(logs[0]);
        size_t debugLines = 0;
        for (size_t at = log.find("*** DEBUG *** "); at != std::string::npos;
             at = log.find("*** DEBUG *** ", at + 1))
            ++debugLines;
        EXPECT_TRUE(Contains(log, " Infected Generic Malware: ")) << debug;
        if (debug == 0) {
            // Only the closing line the scanner writes itself.
            EXPECT_EQ(debugLines, 1u);
        } else {
            EXPECT_GT(debugLines, 100u);
            for (const char* line :
                 {"*** DEBUG *** Custom System Scout started...\n\r",
                  "*** DEBUG *** Custom Scout Scan...\n\r", "*** DEBUG *** Scan thread started\n\r",
                  "*** DEBUG *** SendOVMsg Start\n\r", "*** DEBUG *** ### ",
                  "*** DEBUG *** Scan Ended\n\n\r"})
                EXPECT_TRUE(Contains(log, line)) << line;
        }
        // Quiet: findings only.
        EXPECT_FALSE(Contains(run.out, "Scan Finished!"));
        EXPECT_TRUE(Contains(run.out, "FOUND Malware: "));
    }
}

TEST(OrvaneScan, JsonDescribesEachScan) {
    if (!IsRoot()) GTEST_SKIP() << "the engine needs the privileges of root";
    ScanSetup setup;
    // A name that is not valid UTF-8 and holds a quotation mark.
    auto odd = setup.install.writeFile(std::string("files/odd\xFF\"name.bin"), "known bad bytes");
    auto run = RunTool("orvane-scan", {"--json", odd.string(), setup.clean.string()});
    EXPECT_EQ(run.status, 1) << run.err;
    // One object per line.
    const std::string out = run.out;
    size_t lines = 0;
    for (char c : out) lines += c == '\n';
    EXPECT_EQ(lines, 2u) << out;
    EXPECT_TRUE(Contains(out, "\"scanType\":\"Custom System Scout\"")) << out;
    EXPECT_TRUE(Contains(out, "\"infected\":1,")) << out;
    EXPECT_TRUE(Contains(out, "odd\\udcff\\\"name.bin")) << out;
    EXPECT_TRUE(Contains(out, "\"type\":\"Malware\",\"location\":null")) << out;
    EXPECT_TRUE(Contains(out, "\"exitCode\":1")) << out;
    EXPECT_TRUE(Contains(out, "\"exitCode\":0")) << out;
    EXPECT_TRUE(Contains(out, "\"report\":\"" + setup.install.root().string() + "/logs/Orvane_"));
    for (unsigned char c : out) EXPECT_LT(c, 0x80);  // the odd byte went out escaped
    // Two scans, two report logs, even within one second.
    EXPECT_EQ(setup.install.reportLogs().size(), 2u);
    // Python's json module agrees that every line is JSON.
    FILE* pipe = popen("python3 -c 'import json,sys\nfor l in sys.stdin: json.loads(l)'", "w");
    if (pipe) {
        fwrite(out.data(), 1, out.size(), pipe);
        EXPECT_EQ(pclose(pipe), 0);
    }
}

TEST(OrvaneScan, CommandLineErrors) {
    TempInstall install;
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, "nothing to scan"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--file"}, "--file needs a value"},
        {{"--threat", "--full", "C:"}, "choose one of"},
        {{"--full", "C:x"}, "bad drive list"},
        {{"--full", "C:D:"}, "bad drive list"},
        {{"--full", std::string(1, UnmappedDrive()) + ":"}, "is not mapped"},
        {{"/nonexistent/thing"}, "no such file or folder"},
        {{"--folder", "/etc/hostname"}, "is not a folder"},
        {{"--file", "/etc"}, "is a folder"},
    };
    for (const Case& c : cases) {
        auto run = RunTool("orvane-scan", c.args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    }
    auto help = RunTool("orvane-scan", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Contains(help.out, "Exit status: 0 nothing found, 1 something found, 2"));
}
