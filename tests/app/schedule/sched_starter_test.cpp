#include "app/schedule/sched_starter.h"

#include <gtest/gtest.h>

#include <atomic>

#include "app/schedule/schedule_test_support.h"
#include "platform/registry.h"

namespace {

// The main dialog's side, recorded.
class FakeHost : public ScheduledStartHost {
public:
    std::atomic<int32_t> scanning{0};
    std::atomic<int32_t> scheduled{0};
    std::atomic<int32_t> scanType{0};
    std::atomic<int32_t> armedWith{0};
    std::atomic<int> armCount{0};

    int32_t scanningFlag() override { return scanning; }
    int32_t scheduledStartFlag() override { return scheduled; }
    void setScheduledStartFlag(int32_t value) override { scheduled = value; }
    int32_t scheduledScanType() override { return scanType; }
    void setScheduledScanType(int32_t type) override { scanType = type; }
    void armScheduledStartTimer(int32_t milliseconds) override {
        armedWith = milliseconds;
        ++armCount;
    }
    uint32_t mainWindowHandle() override { return 0x1234; }
};

jobfile::JobFields job(int32_t type) {
    jobfile::JobFields job;
    job.name = u"Job";
    job.type = type;
    job.time = u"08:00:00";
    return job;
}

class SchedStarterTest : public ScheduleSandbox {
protected:
    FakeHost host;
};

TEST_F(SchedStarterTest, ADueJobIsTakenOnceClearedAndTheTimerArmed) {
    writeJob("ovjob3.ovj", job(1035));
    setSched(u"ovjob3.ovj");
    SchedStarter starter(host, jobsFolder());
    starter.PollOnce();
    EXPECT_EQ(host.scheduled, 1);
    EXPECT_EQ(host.armCount, 1);
    EXPECT_EQ(host.armedWith, 2000);
    EXPECT_EQ(starter.keptJobName(), u"ovjob3.ovj");
    uint32_t type = 0;
    EXPECT_EQ(schedBytes(&type), std::string(128, '\0'));
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_TRUE(logHas(u"In CheckIfSchedTime\n"));

    // The timer's handler reads the job: a Full System Scout job.
    EXPECT_EQ(starter.PrepareScheduledJob(), 1);
    EXPECT_EQ(host.scanType, 1035);
    EXPECT_TRUE(logHas(u"ScanTimerCounterThread=>started\n"));
    EXPECT_TRUE(logHas(u"ScanTimerCounterThread=>ended\n"));

    // While the scheduled scan runs nothing more is taken; after it, the
    // cleared value is no job.
    setSched(u"ovjob3.ovj");
    starter.PollOnce();
    EXPECT_EQ(host.armCount, 1);
    host.scheduled = 0;
    setSched(u"");
    starter.PollOnce();
    EXPECT_EQ(host.armCount, 1);
    EXPECT_EQ(host.scheduled, 0);
    EXPECT_TRUE(logHas(u"CheckIfSchedTime=>sched END FALSE\n"));
}

TEST_F(SchedStarterTest, TheScanTypeOfEachJobType) {
    const std::pair<int32_t, int32_t> cases[] = {
        {1034, 1034}, {1035, 1035}, {1036, 1034}, {0, 1034}};
    for (const auto& [jobType, scanType] : cases) {
        writeJob("ovjob0.ovj", job(jobType));
        setSched(u"ovjob0.ovj");
        host.scheduled = 0;
        host.scanType = 0;
        SchedStarter starter(host, jobsFolder());
        ASSERT_EQ(starter.CheckIfSchedTime(), 1);
        EXPECT_EQ(starter.PrepareScheduledJob(), 1);
        EXPECT_EQ(host.scanType, scanType) << jobType;
    }
}

TEST_F(SchedStarterTest, AJobFileThatCannotBeReadLeavesTheScanType) {
    setSched(u"ovjob7.ovj");
    host.scanType = 1035;
    SchedStarter starter(host, jobsFolder());
    ASSERT_EQ(starter.CheckIfSchedTime(), 1);
    EXPECT_EQ(starter.PrepareScheduledJob(), 0);
    EXPECT_EQ(host.scanType, 1035);
    EXPECT_TRUE(logHas(u"ScanTimerCounterThread=> FILE: ovjob7.ovj [2]\n"));
}

TEST_F(SchedStarterTest, ANameWithoutOvjIsIgnoredAndLeft) {
    setSched(u"ovjob3.txt");
    SchedStarter starter(host, jobsFolder());
    starter.PollOnce();
    EXPECT_EQ(host.armCount, 0);
    EXPECT_EQ(host.scheduled, 0);
    EXPECT_EQ(schedBytes(), utf16le(u"ovjob3.txt"));
    // Nor is a path out of the jobs folder taken.
    setSched(u"..\\other\\ovjob3.ovj");
    starter.PollOnce();
    EXPECT_EQ(host.armCount, 0);
}

TEST_F(SchedStarterTest, NothingIsTakenWhileAScanRuns) {
    setSched(u"ovjob3.ovj");
    host.scanning = 1;
    SchedStarter starter(host, jobsFolder());
    starter.PollOnce();
    EXPECT_EQ(host.armCount, 0);
    EXPECT_EQ(schedBytes(), utf16le(u"ovjob3.ovj"));
    host.scanning = 0;  // after the scan the job is taken
    starter.PollOnce();
    EXPECT_EQ(host.armCount, 1);
}

TEST_F(SchedStarterTest, DebugLinesInDebugMode) {
    setDebug(1);
    writeJob("ovjob3.ovj", job(1035));
    setSched(u"ovjob3.ovj");
    SchedStarter starter(host, jobsFolder());
    starter.PollOnce();
    (void)starter.PrepareScheduledJob();
    EXPECT_TRUE(logHas(u"SchedStarterThread Thread: CheckIfSchedTime 1\n"));
    EXPECT_TRUE(logHas(u"##### SchedStarterThread Thread: gHWND: 00001234\n"));
    EXPECT_TRUE(logHas(u"CheckIfSchedTime=>sched END TRUE\n"));
    EXPECT_TRUE(
        logHas(u"ScanTimerCounterThread=> Scan Type: STR: 1035 || NUM: 1035 || PARAM: 1035\n"));
    EXPECT_TRUE(logHas(u"ScanTimerCounterThread=> Information: TYPE: 1035 || Sched: 1\n"));
}

TEST_F(SchedStarterTest, AJobIsTakenOnceWhenRoundsMeet) {
    writeJob("ovjob3.ovj", job(1034));
    setSched(u"ovjob3.ovj");
    SchedStarter starter(host, jobsFolder());
    std::vector<std::thread> rounds;
    for (int i = 0; i < 4; ++i)
        rounds.emplace_back([&starter] {
            for (int j = 0; j < 5; ++j) starter.PollOnce();
        });
    for (std::thread& round : rounds) round.join();
    EXPECT_EQ(host.armCount, 1);
    EXPECT_EQ(host.scheduled, 1);
}

TEST_F(SchedStarterTest, ThePollThreadTakesTheJobAndStopsWhenAsked) {
    writeJob("ovjob3.ovj", job(1034));
    setSched(u"ovjob3.ovj");
    SchedStarter starter(host, jobsFolder());
    starter.Start();
    EXPECT_TRUE(starter.Running());
    // The first round comes at once; this waits for it, however slow the machine.
    for (int i = 0; i < 6000 && host.armCount == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    starter.Stop();
    EXPECT_FALSE(starter.Running());
    EXPECT_EQ(host.armCount, 1);
    EXPECT_TRUE(logHas(u"Thread Started: SchedStarterThread ID: "));
}

}  // namespace
