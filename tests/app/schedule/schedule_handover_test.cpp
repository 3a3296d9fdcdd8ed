// The service's schedule watcher and the application's scheduled start
// meet in "sched": what the watcher writes for a due job is what the
// application takes, once, with the job's scan type.
#ifdef OV_HAVE_SCHEDULE_WATCHER
#include <gtest/gtest.h>

#include "app/schedule/sched_starter.h"
#include "app/schedule/schedule_test_support.h"
#include "service/schedule_watcher.h"

namespace {

class RecordingHost : public ScheduledStartHost {
public:
    int32_t scheduled = 0;
    int32_t scanType = 0;
    int armed = 0;
    int32_t scanningFlag() override { return 0; }
    int32_t scheduledStartFlag() override { return scheduled; }
    void setScheduledStartFlag(int32_t value) override { scheduled = value; }
    int32_t scheduledScanType() override { return scanType; }
    void setScheduledScanType(int32_t type) override { scanType = type; }
    void armScheduledStartTimer(int32_t) override { ++armed; }
    uint32_t mainWindowHandle() override { return 0; }
};

class ScheduleHandoverTest : public ScheduleSandbox {};

TEST_F(ScheduleHandoverTest, TheApplicationTakesTheJobTheServiceStarted) {
    jobfile::JobFields full;
    full.name = u"Night";
    full.type = 1035;
    full.time = u"10:30:00 PM";
    writeJob("ovjob2.ovj", full);

    std::vector<std::vector<std::u16string>> launches;
    ovsvc::ScheduleWatcherHooks hooks;
    hooks.debug = [] { return false; };
    hooks.launch = [&](const std::vector<std::u16string>& commandLine, const SessionLaunchLog&) {
        launches.push_back(commandLine);
        return 0u;
    };
    ovsvc::ScheduleWatcher watcher(std::move(hooks));
    using namespace std::chrono;
    const auto due = floor<minutes>(sys_days{year(2026) / 12 / 7} + hours(22) + minutes(30));
    // The minute is read in the machine's time zone: UTC for this test.
    const char* oldZone = getenv("TZ");
    const std::string kept = oldZone ? oldZone : "";
    setenv("TZ", "UTC", 1);
    tzset();
    ASSERT_EQ(watcher.DoSchedualWatcherThread({due}), 1u);
    if (oldZone)
        setenv("TZ", kept.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].back(), u"ovjob2.ovj");

    RecordingHost host;
    SchedStarter starter(host, jobsFolder());
    starter.PollOnce();
    EXPECT_EQ(host.armed, 1);
    EXPECT_EQ(starter.keptJobName(), u"ovjob2.ovj");
    EXPECT_EQ(starter.PrepareScheduledJob(), 1);
    EXPECT_EQ(host.scanType, 1035);

    // Taken once: after the scan the next round finds nothing.
    host.scheduled = 0;
    starter.PollOnce();
    EXPECT_EQ(host.armed, 1);
}

}  // namespace
#endif
