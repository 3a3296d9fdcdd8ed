#include "app/scan/report_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"

namespace {

const ReportTime kStart{2026, 12, 6, 9, 5, 3};
const ReportTime kEnd{2026, 12, 6, 10, 0, 7};

// A temporary installation whose registry names <root>/bin as the program folder.
class ReportLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ov-report-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        std::filesystem::create_directories(m_root / "bin");
        std::filesystem::create_directories(m_root / "logs");
        m_previous = std::filesystem::current_path();
        setenv("ORVANE_REGISTRY", (m_root / "registry.db").c_str(), 1);
        platform::resetRegistryConnection();
        ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                        names::kValuePath,
                                        platform::toWindowsPath((m_root / "bin").string())),
                  0u);
    }
    void TearDown() override {
        ResetDefaultReportLog();
        std::filesystem::current_path(m_previous);
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
        std::filesystem::remove_all(m_root);
    }

    // A clock that gives the start time first and the end time afterwards.
    static ReportClock Clock() {
        auto calls = std::make_shared<int>(0);
        return [calls] { return (*calls)++ == 0 ? kStart : kEnd; };
    }

    std::string Read(const std::string& name) {
        std::ifstream in(m_root / "logs" / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path m_root;
    std::filesystem::path m_previous;
};

const char kHeader[] =
    "\n\r Orvane Anti-Malware (Wardline)\n\r"
    " https://www.orvane.example\n\r"
    "\n\r\n\r Scan Type: Custom System Scout\n\r\n\r Started On: 12/06/2026/ 09:05:03\n\r\n\r";

}  // namespace

TEST(ReportLogName, MonthDayYearHourMinuteSecondWithoutLeadingZeros) {
    EXPECT_EQ(ReportLogFileName(kStart), u"Orvane_12.6.2026.9.5.3.log");
    EXPECT_EQ(ReportLogFileName({2027, 1, 31, 23, 59, 0}), u"Orvane_1.31.2027.23.59.0.log");
}

TEST(ReportLogName, CurrentUtcTimeIsPlausible) {
    ReportTime now = CurrentUtcTime();
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_TRUE(now.day >= 1 && now.day <= 31);
    EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
}

TEST_F(ReportLogTest, HeaderLinesAndFooterAreByteExact) {
    ResetDefaultReportLog(Clock());
    ASSERT_EQ(OpenReportLog(u"Custom System Scout"), 1);
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(m_root));
    EXPECT_EQ(DefaultReportLog().path(),
              platform::toWindowsPath((m_root / "logs" / "Orvane_12.6.2026.9.5.3.log").string()));
    EXPECT_EQ(WriteReportLine(u" Infected Generic Malware: C:\\x\\caf\u00e9.exe [(null)].", 0), 1);
    EXPECT_EQ(WriteReportLine(u" Hidden process: evil\n", 0), 1);
    EXPECT_EQ(WriteReportLine(u"trace", 1), 1);
    EXPECT_EQ(WriteReportLine(nullptr, 1), 0);
    EXPECT_EQ(WriteReportFooter(12, 1), 1);
    EXPECT_EQ(Read("Orvane_12.6.2026.9.5.3.log"),
              std::string(kHeader) +
                  " Infected Generic Malware: C:\\x\\caf\xC3\xA9.exe [(null)].\n\r"
                  " Hidden process: evil\n\n\r"
                  "*** DEBUG *** trace\n\r"
                  "\n\r\n\r Scan Finished!, 12 Object Scanned, 1 Infected Object Found."
                  "\n\r\n\r Ended On: 12/6/2026/ 10:0:7\n\r\n\r"
                  " Protected by Orvane Anti-Malware, Wardline engine.\n\r\n\r");
    // The log is closed: later writes are dropped.
    EXPECT_EQ(WriteReportLine(u"late", 0), 0);
    EXPECT_EQ(WriteReportFooter(1, 0), 0);
}

// A file name with line breaks cannot split its report line and make up a
// finding the results list would offer to delete.
TEST_F(ReportLogTest, LineBreaksInsideATextStayInItsLine) {
    ResetDefaultReportLog(Clock());
    ASSERT_EQ(OpenReportLog(u"Custom System Scout"), 1);
    const struct {
        const char16_t* text;
        bool debug;
        const char* written;
    } cases[] = {
        {u" Infected Generic Malware: c:\\a\n Infected Generic Malware: c:\\sys.dll [x].exe "
         u"[(null)].",
         false,
         " Infected Generic Malware: c:\\a? Infected Generic Malware: c:\\sys.dll [x].exe "
         "[(null)].\n\r"},
        {u"FindF: File: c:\\a\r\nb.exe", true, "*** DEBUG *** FindF: File: c:\\a??b.exe\n\r"},
        {u" Hidden process: a\nb\n", false, " Hidden process: a?b\n\n\r"},
        {u" %s %n\n\r", false, " %s %n\n\r\n\r"},
        // A text that is not ASCII takes the slower conversion; its breaks go too.
        {u" Infected Generic Malware: c:\\caf\u00e9\nb.exe", false,
         " Infected Generic Malware: c:\\caf\xc3\xa9?b.exe\n\r"},
    };
    std::string expected = kHeader;
    for (const auto& c : cases) {
        EXPECT_EQ(WriteReportLine(c.text, c.debug), 1);
        expected += c.written;
    }
    EXPECT_EQ(Read("Orvane_12.6.2026.9.5.3.log"), expected);
}

// Debug lines come by the thousand while Debug is on; they reach the file
// in blocks, never after the report line that follows them and never lost.
TEST_F(ReportLogTest, DebugLinesAreWrittenInBlocksAndNeverLost) {
    const std::string name = "Orvane_12.6.2026.9.5.3.log";
    {
        ReportLog log(Clock());
        ASSERT_EQ(log.open(u"Custom System Scout"), 1);
        log.writeLine(u"held", true);
        EXPECT_EQ(Read(name), kHeader) << "a single debug line waits for company";
        log.writeLine(u" Infected Generic Malware: c:\\x.exe [(null)].", false);
        EXPECT_EQ(Read(name), std::string(kHeader) +
                                  "*** DEBUG *** held\n\r"
                                  " Infected Generic Malware: c:\\x.exe [(null)].\n\r")
            << "a report line is in the file at once, after what came before it";
        // Enough debug lines to fill more than one block.
        const std::u16string line(1000, u'd');
        for (int i = 0; i < 200; ++i) log.writeLine(line.c_str(), true);
        // Full blocks are written behind the scan: they reach the file soon,
        // without a report line.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Read(name).size() <= std::string(kHeader).size() + 64 * 1024 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GT(Read(name).size(), std::string(kHeader).size() + 64 * 1024);
        log.writeLine(u"last", true);
    }
    const std::string text = Read(name);
    EXPECT_EQ(text.size() - text.rfind("*** DEBUG *** last\n\r"),
              std::string("*** DEBUG *** last\n\r").size())
        << "what was held is written when the log goes away";
    EXPECT_EQ(text.size(), std::string(kHeader).size() + std::string("*** DEBUG *** held\n\r").size() +
                               std::string(" Infected Generic Malware: c:\\x.exe [(null)].\n\r").size() +
                               200 * (14 + 1000 + 2) + std::string("*** DEBUG *** last\n\r").size());
}

TEST_F(ReportLogTest, FooterWithoutFindings) {
    ReportLog log(Clock());
    ASSERT_EQ(log.open(u"Threat System Scout"), 1);
    ASSERT_EQ(log.writeFooter(7, 0), 1);
    std::string text = Read("Orvane_12.6.2026.9.5.3.log");
    EXPECT_NE(
        text.find("\n\r\n\r Scan Finished!, 7 Object Scanned, No Infected Found.\n\r\n\r Ended"),
        std::string::npos);
    EXPECT_NE(text.find(" Scan Type: Threat System Scout\n\r"), std::string::npos);
}

TEST_F(ReportLogTest, ASecondLogOfTheSameSecondReplacesTheFirst) {
    for (const char16_t* type : {u"Full System Scout", u"Custom System Scout"}) {
        ReportLog log([] { return kStart; });
        ASSERT_EQ(log.open(type), 1);
        log.writeLine(type, false);
        log.writeFooter(0, 0);
    }
    std::string text = Read("Orvane_12.6.2026.9.5.3.log");
    EXPECT_EQ(text.find("Full System Scout"), std::string::npos);
    EXPECT_EQ(text.rfind(kHeader, 0), 0u);
}

TEST_F(ReportLogTest, WithoutALogsFolderNothingIsWritten) {
    std::filesystem::remove_all(m_root / "logs");
    ReportLog log(Clock());
    EXPECT_EQ(log.open(u"Custom System Scout"), 0);
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(log.writeLine(u"x", false), 0);
    EXPECT_EQ(log.writeFooter(0, 0), 0);
}

TEST_F(ReportLogTest, WorkingDirectoryHelpers) {
    SetWorkDirToProgramFolder();
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(m_root / "bin"));
    SetWorkDirToInstallRoot();
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(m_root));
    // A missing or short Path leaves the working directory alone.
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                    names::kValuePath, u"C:\\"),
              0u);
    std::filesystem::current_path(m_root / "logs");
    SetWorkDirToInstallRoot();
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(m_root / "logs"));
}
