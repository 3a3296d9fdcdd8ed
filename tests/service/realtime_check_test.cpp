// The check of one file, in this process over a sandbox.
#include "service/realtime_check.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/fs.h"
#include "platform/path.h"
#include "platform/shm.h"
#include "platform/text.h"
#include "service/hash_list.h"
#include "service/service_host.h"
#include "service/service_in_process_support.h"
#include "service/service_state.h"

namespace svctest {
namespace {

std::u16string windowsOf(const fs::path& host) { return platform::toWindowsPath(host.string()); }

ovsvc::SharedScanStatus published() {
    platform::SharedMemory view;
    EXPECT_EQ(platform::SharedMemory::open(ovsvc::kMappingName, false, view), 0u);
    ovsvc::SharedScanStatus status{};
    if (view.isOpen()) std::memcpy(&status, view.view(), sizeof status);
    return status;
}

TEST(RealtimeCheck, CleanAndInfectedFilesAreCountedAndPublished) {
    InProcessService service;
    ovsvc::FlipFile();
    WriteText(service.sandbox().watched() / "clean.txt", "clean");
    WriteText(service.sandbox().watched() / "bad.exe", kEicar);
    EXPECT_TRUE(ovsvc::CheckChangedFile(u"C:\\clean.txt"));
    EXPECT_TRUE(ovsvc::CheckChangedFile(u"C:\\bad.exe"));
    ovsvc::SharedScanStatus status = published();
    EXPECT_EQ(status.filesClean, 1u);
    EXPECT_EQ(status.filesInfected, 1u);
    EXPECT_EQ(std::u16string(status.lastInfectedPath), u"C:\\bad.exe");
    EXPECT_EQ(service.sandbox().dataRecord(), "2|1|C:\\bad.exe|C:\\bad.exe");
    const std::string log = service.log();
    EXPECT_NE(log.find("C:\\clean.txt [" + Md5Upper("clean") + "]."), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] StartOVScanner=> Start OV: " +
                       platform::toUtf8(windowsOf(service.sandbox().root() / "bin")) +
                       "\\ovfilemsg.exe C:\\bad.exe\n"),
              std::string::npos)
        << log;
}

TEST(RealtimeCheck, AnEmptyFileHashesToTheEmptyDigest) {
    InProcessService service;
    ovsvc::FlipFile();
    WriteText(service.sandbox().watched() / "empty", "");
    EXPECT_TRUE(ovsvc::CheckChangedFile(u"C:\\empty"));
    EXPECT_NE(service.log().find("C:\\empty [D41D8CD98F00B204E9800998ECF8427E]."),
              std::string::npos);
    EXPECT_EQ(service.sandbox().dataRecord(), "1|0|C:\\empty|");
}

TEST(RealtimeCheck, AFileOfTheSizeLimitIsCountedButNotHashed) {
    InProcessService service;
    ovsvc::FlipFile();
    WriteText(service.sandbox().watched() / "big.bin", std::string(5242880, 'a'));
    WriteText(service.sandbox().watched() / "below.bin", std::string(5242879, 'a'));
    EXPECT_TRUE(ovsvc::CheckChangedFile(u"C:\\big.bin"));
    EXPECT_EQ(service.log().find("C:\\big.bin ["), std::string::npos);
    EXPECT_EQ(service.sandbox().dataRecord(), "1|0|C:\\big.bin|");
    EXPECT_EQ(ovsvc::serviceState().status.filesClean, 0u);
    EXPECT_TRUE(ovsvc::CheckChangedFile(u"C:\\below.bin"));
    EXPECT_NE(service.log().find("C:\\below.bin ["), std::string::npos);
    EXPECT_EQ(ovsvc::serviceState().status.filesClean, 1u);
}

TEST(RealtimeCheck, WithoutAHashListEveryCheckSaysDbFileIsNull) {
    InProcessService service;
    WriteText(service.sandbox().watched() / "bad.exe", kEicar);
    EXPECT_TRUE(ovsvc::CheckChangedFile(u"C:\\bad.exe"));
    EXPECT_NE(service.log().find("[ERROR] GenerateCryptoMd5Buffer=> DB file is null\n"),
              std::string::npos);
    EXPECT_EQ(ovsvc::serviceState().status.filesClean, 0u);
    EXPECT_EQ(ovsvc::serviceState().status.filesInfected, 0u);
    EXPECT_EQ(service.sandbox().dataRecord(), "1|0|C:\\bad.exe|");
}

TEST(RealtimeCheck, AFileThatIsGoneIsSkippedAfterThreeAttemptsWithoutWaiting) {
    InProcessService service;
    ovsvc::FlipFile();
    EXPECT_FALSE(ovsvc::CheckChangedFile(u"C:\\missing.exe"));
    const std::string log = service.log();
    EXPECT_NE(log.find("[ERROR] Unable to open file -> test 1 sleep, code: 2\n"
                       "[ERROR] Unable to open file -> test 2, code: 2\n"
                       "[ERROR] Unable to open file -> test 3, code: 2... will have to skip..\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(service.sandbox().dataRecord(), "0|0||");
}

TEST(RealtimeCheck, AFileHeldOpenElsewhereIsTriedThreeTimes) {
    InProcessService service;
    ovsvc::FlipFile();
    WriteText(service.sandbox().watched() / "held.exe", "x");
    // Share modes hold within one process: an exclusive open locks the file.
    platform::File holder;
    ASSERT_EQ(platform::File::open(u"C:\\held.exe", platform::kGenericRead, 0,
                                   platform::Disposition::OpenExisting, holder),
              0u);
    EXPECT_FALSE(ovsvc::CheckChangedFile(u"C:\\held.exe"));
    const std::string log = service.log();
    EXPECT_NE(log.find("[ERROR] Unable to open file -> test 1 sleep, code: 32\n"
                       "[ERROR] Unable to open file -> test 2, code: 32\n"
                       "[ERROR] Unable to open file -> test 3, code: 32... will have to skip..\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(service.sandbox().dataRecord(), "0|0||");
}

TEST(RealtimeCheck, UpdateMemoryDataNeedsTheNamedMapping) {
    InProcessService service;
    ovsvc::serviceState().status.filesClean = 5;
    EXPECT_EQ(ovsvc::UpdateMemoryData(), 1);
    EXPECT_EQ(published().filesClean, 5u);
    ovsvc::serviceState().mapping.close();
    EXPECT_EQ(ovsvc::UpdateMemoryData(), 0);
    EXPECT_NE(service.log().find("UpdateMemoryData start.\nUpdateMemoryData handle is null!!!.\n"),
              std::string::npos);
}

TEST(RealtimeCheck, TheAlertCommandLineNamesTheProgramThenThePath) {
    EXPECT_EQ(ovsvc::alertCommandLine(u"C:\\Orvane\\bin", u"C:\\a b\\x.exe"),
              u"C:\\Orvane\\bin\\ovfilemsg.exe C:\\a b\\x.exe");
}

}  // namespace
}  // namespace svctest
