// The service log while the service thread holds its lines through a burst:
// read straight from the file, as another program would, never flushed by
// the test itself.
#include "service/service_log.h"

#include <gtest/gtest.h>

#include <thread>

#include "service/service_in_process_support.h"

namespace svctest {
namespace {

constexpr char kBefore[] = "[INFO] GenerateCryptoMd5Buffer=> start...\n";

struct AtOnceCase {
    const char* name;
    const char* line;
    bool finding;  // written by logFlushNow after the line
};

class HeldLog : public ::testing::TestWithParam<AtOnceCase> {};

// An error, a loss or a finding reaches the file as soon as it is logged,
// and with it every line held before it, in order.
TEST_P(HeldLog, AFaultOrAFindingReachesTheFileAtOnce) {
    InProcessService service;
    ovsvc::holdServiceLog();
    ovsvc::logText(kBefore);
    ovsvc::logText(GetParam().line);
    if (GetParam().finding) ovsvc::logFlushNow();
    EXPECT_EQ(ReadText(service.sandbox().logPath()), std::string(kBefore) + GetParam().line);
    ovsvc::releaseServiceLog();
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeldLog,
    ::testing::Values(
        AtOnceCase{"OpenFailed", "[ERROR] Unable to open file -> test 1 sleep, code: 32\n", false},
        AtOnceCase{"QueueOverflowed",
                   "[CRITICAL] DoFileChangesWatcherThread=>  Queue overflowed.\n", false},
        AtOnceCase{"RegistryError", "Registry ERROR: file not found\n", false},
        AtOnceCase{"Infected",
                   "[INFO]GenerateCryptoMd5Buffer=>  44D88612FEA8A8F36DE82E1278ABB02F -> "
                   "Infected!!!\n",
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

// Lines held by one thread and written meanwhile by another keep the order
// in which they were logged and stay whole; ending the hold writes the rest.
TEST(ServiceLog, EveryLineIsWrittenInOrderWhenTheHoldEnds) {
    InProcessService service;
    std::string expected;
    ovsvc::holdServiceLog();
    for (int i = 0; i < 2000; ++i) {
        const std::string path = "C:\\burst\\" + std::to_string(i);
        // A digest line is logged in two pieces.
        ovsvc::logText(path + " [D41D8CD98F00B204E9800998ECF8427E].");
        ovsvc::logText("UpdateMemoryData start.\n");
        ovsvc::logFlush();
        expected += path + " [D41D8CD98F00B204E9800998ECF8427E].UpdateMemoryData start.\n";
        if (i == 1000) {
            std::thread([] { ovsvc::logText("[INFO] ControlHandler=> get STOP event\n"); }).join();
            expected += "[INFO] ControlHandler=> get STOP event\n";
        }
    }
    ovsvc::releaseServiceLog();
    EXPECT_EQ(ReadText(service.sandbox().logPath()), expected);
}

}  // namespace
}  // namespace svctest
