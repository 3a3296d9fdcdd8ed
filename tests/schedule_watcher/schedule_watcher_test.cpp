#include "service/schedule_watcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "common/job_file.h"
#include "common/registry_names.h"
#include "launch_probe/fake_session_source.h"
#include "launch_probe/launch_record.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace {

using namespace std::chrono;
using ovsvc::ScheduleMinute;

system_clock::time_point at(int y, unsigned mo, unsigned d, int h, int mi, int s = 0) {
    return sys_days{year(y) / month(mo) / day(d)} + hours(h) + minutes(mi) + seconds(s);
}

ScheduleMinute minuteAt(int y, unsigned mo, unsigned d, int h, int mi) {
    return floor<minutes>(at(y, mo, d, h, mi));
}

// 7 December 2026 is a Monday.
constexpr int kYear = 2026;
constexpr unsigned kMonth = 12;
constexpr unsigned kMonday = 7;
constexpr unsigned kTuesday = 8;

// A clock of the test's own: local time is UTC, and every wait ends at its
// deadline plus the lateness the test queued (none: on time), after the
// number of waits the test allows.
class FakeClock : public ovsvc::ScheduleClock {
public:
    system_clock::time_point current;
    std::deque<seconds> lateness;
    std::deque<system_clock::time_point> jumps;  // a wake at this time instead
    int waitsLeft = 0;

    system_clock::time_point now() override { return current; }
    platform::LocalTime local(system_clock::time_point when) override {
        const auto days = floor<std::chrono::days>(when);
        const year_month_day date(days);
        const hh_mm_ss<milliseconds> time(floor<milliseconds>(when - days));
        platform::LocalTime t;
        t.year = int(date.year());
        t.month = int(unsigned(date.month()));
        t.day = int(unsigned(date.day()));
        t.dayOfWeek = int(weekday(days).c_encoding());
        t.hour = int(time.hours().count());
        t.minute = int(time.minutes().count());
        t.second = int(time.seconds().count());
        return t;
    }
    bool waitUntil(system_clock::time_point deadline, const std::stop_token&) override {
        if (waitsLeft-- <= 0) return false;
        if (!jumps.empty()) {
            current = jumps.front();
            jumps.pop_front();
            return true;
        }
        seconds late{0};
        if (!lateness.empty()) {
            late = lateness.front();
            lateness.pop_front();
        }
        current = deadline + late;
        return true;
    }
};

struct Launch {
    std::vector<std::u16string> commandLine;
    std::u16string schedAtLaunch;
};

// An installation of the test's own: bin (the program folder named by
// "Path"), jobs beside it, and a registry with the product and data keys.
class ScheduleWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::resetRegistryConnection();
        m_root.makeFolder("bin");
        m_root.makeFolder("jobs");
        ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                        names::kValuePath, binFolder()),
                  0u);
        platform::RegKey data;
        ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, names::kDataKey, data),
                  0u);
    }
    void TearDown() override { platform::resetRegistryConnection(); }

    std::u16string binFolder() const { return m_root.windows(u"bin"); }

    void addJob(const std::string& file, const jobfile::JobFields& job) const {
        m_root.writeFile("jobs/" + file, jobfile::jobFileBytes(job));
    }
    void addJobText(const std::string& file, const std::u16string& text) const {
        m_root.writeFile("jobs/" + file, platform::toUtf16LeBytes(text));
    }

    static jobfile::JobFields dailyJob(const std::u16string& time) {
        jobfile::JobFields job;
        job.name = u"Daily";
        job.time = time;
        return job;
    }
    static jobfile::JobFields weeklyJob(const std::u16string& time, int day) {
        jobfile::JobFields job;
        job.name = u"Weekly";
        job.weekly = true;
        job.time = time;
        job.days[day] = true;
        return job;
    }

    ovsvc::ScheduleWatcherHooks hooks() {
        ovsvc::ScheduleWatcherHooks h;
        h.log = [this](std::string_view line) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_log.emplace_back(line);
        };
        h.debug = [this] { return m_debug; };
        h.launch = [this](const std::vector<std::u16string>& commandLine, const SessionLaunchLog&) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_launches.push_back({commandLine, sched()});
            return 0u;
        };
        h.clock = &m_clock;
        return h;
    }

    // "sched" as its raw bytes, with its type.
    static std::string schedBytes(uint32_t& type) {
        platform::RegKey data;
        if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, data) != 0)
            return {};
        char buffer[1024];
        uint32_t size = sizeof buffer;
        if (data.queryValue(names::kValueSched, &type, buffer, &size) != 0) return {};
        return std::string(buffer, size);
    }
    static std::u16string sched() {
        uint32_t type = 0;
        return jobfile::decodeJobFile(schedBytes(type));
    }

    std::vector<std::u16string> launchedJobs() const {
        std::vector<std::u16string> jobs;
        for (const Launch& launch : m_launches) jobs.push_back(launch.commandLine.back());
        return jobs;
    }
    bool logHas(std::string_view text) const {
        return std::any_of(m_log.begin(), m_log.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    }

    ovtest::TempFolder m_root;
    ovtest::ScopedEnv m_registry{"ORVANE_REGISTRY", m_root.host("registry.db")};
    FakeClock m_clock;
    bool m_debug = false;
    std::mutex m_lock;
    std::vector<std::string> m_log;
    std::vector<Launch> m_launches;
};

struct TimeCase {
    const char* name;
    const char16_t* timeText;
    int hour;
    int minute;
};

void PrintTo(const TimeCase& c, std::ostream* out) { *out << c.name; }

class DailyTimes : public ScheduleWatcherTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(DailyTimes, FireInTheirMinuteOnly) {
    const TimeCase& c = GetParam();
    addJob("ovjob0.ovj", dailyJob(c.timeText));
    ovsvc::ScheduleWatcher watcher(hooks());
    const ScheduleMinute due = minuteAt(kYear, kMonth, kMonday, c.hour, c.minute);
    EXPECT_EQ(watcher.DoSchedualWatcherThread({due - minutes(1)}), 1u);
    EXPECT_TRUE(m_launches.empty());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({due + minutes(1)}), 1u);
    EXPECT_TRUE(m_launches.empty());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({due - hours(12)}), 1u);  // AM and PM apart
    EXPECT_TRUE(m_launches.empty());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({due}), 1u);
    ASSERT_EQ(m_launches.size(), 1u);

    // "sched" holds the name as REG_EXPAND_SZ without a terminating zero,
    // written before the application is started.
    EXPECT_EQ(m_launches[0].schedAtLaunch, u"ovjob0.ovj");
    uint32_t type = 0;
    EXPECT_EQ(schedBytes(type), platform::toUtf16LeBytes(u"ovjob0.ovj"));
    EXPECT_EQ(type, platform::kRegExpandSz);
    const std::vector<std::u16string> expected = {binFolder() + u"\\Orvane", u"ovjob0.ovj"};
    EXPECT_EQ(m_launches[0].commandLine, expected);
    EXPECT_TRUE(logHas("[INFO] StartOVScanner=> Enter... \n"));
    EXPECT_TRUE(logHas("[INFO] StartOVScanner=> Add job to registry\n"));
    EXPECT_TRUE(logHas("[INFO] StartOVScanner=> Start OV: \"" + platform::toUtf8(binFolder()) +
                       "\\Orvane\" ovjob0.ovj\n"));
    EXPECT_TRUE(logHas("[INFO] DoSchedualWatcherThread=> SYS: "));
    EXPECT_TRUE(logHas("[DEBUG] DoSchedualWatcherThread=> Open Job: ovjob0.ovj\n"));
}

INSTANTIATE_TEST_SUITE_P(Table, DailyTimes,
                         ::testing::Values(TimeCase{"TenThirtyPm", u"10:30:00 PM", 22, 30},
                                           TimeCase{"TwelveFifteenAm", u"12:15:00 AM", 0, 15},
                                           TimeCase{"TwelveFifteenPm", u"12:15:00 PM", 12, 15},
                                           TimeCase{"TwentyFourHour", u"22:30:00", 22, 30}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScheduleWatcherTest, TheDailyJobLinesOfAPass) {
    addJob("ovjob0.ovj", dailyJob(u"10:30:00 PM"));
    ovsvc::ScheduleWatcher watcher(hooks());
    (void)watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday, 22, 30)});
    EXPECT_TRUE(logHas("[INFO] DoSchedualWatcherThread=> Start - Thread: "));
    EXPECT_TRUE(logHas("[INFO] DoSchedualWatcherThread=> JOB: 22:30:00 ==>> 10 30 00 PM\n"));
    EXPECT_TRUE(
        logHas("[INFO] DoSchedualWatcherThread=> st2.wDay=7,st2.wDayOfWeek=1,st2.wHour=22,"
               "st2.wMilliseconds=0,st2.wMinute=30,st2.wMonth=12,st2.wSecond=0,"
               "st2.wYear=2026\n"));
    EXPECT_TRUE(logHas("|CMP: 0\n"));
    EXPECT_TRUE(logHas("[INFO] DoSchedualWatcherThread=> Ended - Thread: "));
    EXPECT_FALSE(logHas("[DEBUG] JOB D/W: Daily\n"));  // debug lines only in debug mode
}

TEST_F(ScheduleWatcherTest, AnUnconvertibleTimeNeverMatches) {
    addJob("ovjob0.ovj", dailyJob(u"25:30:00"));
    ovsvc::ScheduleWatcher watcher(hooks());
    for (int hour = 0; hour < 24; ++hour)
        (void)watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday, hour, 30)});
    EXPECT_TRUE(m_launches.empty());
    EXPECT_TRUE(logHas("[ERROR] DoSchedualWatcherThread=> Convert SysToFile "));
}

TEST_F(ScheduleWatcherTest, AMondayJobIsSkippedOnTuesdayAndTheNextJobsAreStillChecked) {
    addJob("ovjob0.ovj", weeklyJob(u"9:00:00 AM", 1));
    addJob("ovjob1.ovj", dailyJob(u"9:00:00 AM"));
    addJob("ovjob2.ovj", weeklyJob(u"09:00:00", 2));
    m_debug = true;
    ovsvc::ScheduleWatcher watcher(hooks());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kTuesday, 9, 0)}), 3u);
    EXPECT_EQ(launchedJobs(), (std::vector<std::u16string>{u"ovjob1.ovj", u"ovjob2.ovj"}));
    EXPECT_TRUE(logHas("[DEBUG] DoSchedualWatcherThread=> Current Time: 2\n"));
    EXPECT_TRUE(logHas("[DEBUG] DoSchedualWatcherThread=> JOB D/W: Weekly\n"));
    EXPECT_TRUE(logHas("[DEBUG] ############################## JOB Char: W, "));

    m_launches.clear();
    EXPECT_EQ(watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday + 7, 9, 0)}), 3u);
    EXPECT_EQ(launchedJobs(), (std::vector<std::u16string>{u"ovjob0.ovj", u"ovjob1.ovj"}));
}

TEST_F(ScheduleWatcherTest, OnlyActiveJobsFire) {
    std::u16string finished = jobfile::jobFileText(dailyJob(u"08:00:00"));
    finished.replace(finished.find(u"Status=1224"), 11, u"Status=1227");
    addJobText("ovjob0.ovj", finished);
    std::u16string noStatus = jobfile::jobFileText(dailyJob(u"08:00:00"));
    noStatus.resize(noStatus.find(u"Status="));
    addJobText("ovjob1.ovj", noStatus);
    ovsvc::ScheduleWatcher watcher(hooks());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday, 8, 0)}), 2u);
    EXPECT_TRUE(m_launches.empty());
    EXPECT_TRUE(sched().empty());
}

TEST_F(ScheduleWatcherTest, NoJobFilesLogsFindFile) {
    ovsvc::ScheduleWatcher watcher(hooks());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday, 8, 0)}), 2u);
    EXPECT_TRUE(logHas("[ERROR] DoSchedualWatcherThread=> Find File, code: 2\n"));
}

TEST_F(ScheduleWatcherTest, NoProductKeyEndsThePass) {
    ASSERT_EQ(platform::deleteTree(platform::RegRoot::LocalMachine, names::kProductKey), 0u);
    ovsvc::ScheduleWatcher watcher(hooks());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday, 8, 0)}), 2u);
    EXPECT_TRUE(logHas("[ERROR] DoSchedualWatcherThread=> Open Registry Failed, code: 2\n"));
}

TEST_F(ScheduleWatcherTest, AnUnreadableJobIsLoggedAndTheOthersRun) {
    m_root.makeFolder("jobs/ovjob0.ovj");  // a folder with a job's name
    m_root.writeFile("jobs/ovjob1.ovj", std::string(jobfile::kMaxJobFileBytes + 2, 'x'));
    addJob("ovjob2.ovj", dailyJob(u"08:00:00"));
    ovsvc::ScheduleWatcher watcher(hooks());
    EXPECT_EQ(watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday, 8, 0)}), 1u);
    EXPECT_TRUE(
        logHas("[ERROR] DoSchedualWatcherThread=> Open file [ovjob1.ovj] return error 8\n"));
    EXPECT_EQ(launchedJobs(), std::vector<std::u16string>{u"ovjob2.ovj"});
}

TEST_F(ScheduleWatcherTest, ALatePassCatchesTheMinuteItPassedOverAndFiresOnce) {
    addJob("ovjob0.ovj", dailyJob(u"10:02:00"));
    m_clock.current = at(kYear, kMonth, kMonday, 10, 0, 30);
    m_clock.lateness = {seconds(0), seconds(80), seconds(0)};  // 10:01, 10:03:20, 10:04
    m_clock.waitsLeft = 3;
    ovsvc::ScheduleWatcher watcher(hooks());
    watcher.SchedProc(std::stop_token());
    EXPECT_EQ(launchedJobs(), std::vector<std::u16string>{u"ovjob0.ovj"});
    EXPECT_TRUE(logHas("[INFO] SchedProc=> Started - Thread: "));
}

TEST_F(ScheduleWatcherTest, AMinuteSeenAgainAfterTheClockWentBackDoesNotFireTwice) {
    addJob("ovjob0.ovj", dailyJob(u"10:02:00"));
    m_clock.current = at(kYear, kMonth, kMonday, 10, 2, 5);
    m_clock.jumps = {at(kYear, kMonth, kMonday, 10, 3, 0), at(kYear, kMonth, kMonday, 10, 2, 40)};
    m_clock.waitsLeft = 2;
    ovsvc::ScheduleWatcher watcher(hooks());
    watcher.SchedProc(std::stop_token());
    EXPECT_EQ(launchedJobs(), std::vector<std::u16string>{u"ovjob0.ovj"});
}

TEST_F(ScheduleWatcherTest, APassOverMidnightChecksEachMinuteOnItsOwnDay) {
    addJob("ovjob0.ovj", weeklyJob(u"11:59:00 PM", 1));  // Monday 23:59
    addJob("ovjob1.ovj", dailyJob(u"12:00:00 AM"));      // every day at 00:00
    addJob("ovjob2.ovj", weeklyJob(u"11:59:00 PM", 2));  // Tuesday 23:59: not yet
    m_clock.current = at(kYear, kMonth, kMonday, 23, 58, 10);
    m_clock.lateness = {seconds(100)};  // the pass meant for 23:59 comes at 00:00:40
    m_clock.waitsLeft = 1;
    ovsvc::ScheduleWatcher watcher(hooks());
    watcher.SchedProc(std::stop_token());
    EXPECT_EQ(launchedJobs(), (std::vector<std::u16string>{u"ovjob0.ovj", u"ovjob1.ovj"}));
}

TEST_F(ScheduleWatcherTest, ALatePassLooksBackOnlyAsFarAsTheBound) {
    addJob("ovjob0.ovj", dailyJob(u"10:10:00"));  // 20 minutes back: passed over
    addJob("ovjob1.ovj", dailyJob(u"10:20:00"));  // 10 minutes back: caught up
    m_clock.current = at(kYear, kMonth, kMonday, 10, 0, 0);
    m_clock.jumps = {at(kYear, kMonth, kMonday, 10, 30, 5)};
    m_clock.waitsLeft = 1;
    ovsvc::ScheduleWatcher watcher(hooks());
    watcher.SchedProc(std::stop_token());
    EXPECT_EQ(launchedJobs(), std::vector<std::u16string>{u"ovjob1.ovj"});
    EXPECT_TRUE(logHas("[INFO] SchedProc=> late by 30 minutes, the last 15 are checked\n"));

    const ScheduleMinute last = minuteAt(kYear, kMonth, kMonday, 10, 0);
    const auto checked = ovsvc::ScheduleWatcher::minutesToCheck(&last, last + minutes(30));
    ASSERT_EQ(checked.size(), size_t(ovsvc::kCatchUpMinutes));
    EXPECT_EQ(checked.front(), last + minutes(16));
    EXPECT_EQ(checked.back(), last + minutes(30));
    EXPECT_EQ(ovsvc::ScheduleWatcher::minutesToCheck(&last, last - minutes(5)).size(), 1u);
    EXPECT_EQ(ovsvc::ScheduleWatcher::minutesToCheck(nullptr, last).size(), 1u);
}

TEST_F(ScheduleWatcherTest, NoDataKeyIsLoggedAndTheApplicationStillStarts) {
    ASSERT_EQ(platform::deleteTree(platform::RegRoot::LocalMachine, names::kDataKey), 0u);
    ovsvc::ScheduleWatcher watcher(hooks());
    EXPECT_EQ(watcher.StartOVScanner(u"ovjob4.ovj"), 1u);
    EXPECT_TRUE(logHas("[ERROR] StartOVScanner=> Failed add job to registry, code: 2\n"));
    EXPECT_EQ(launchedJobs(), std::vector<std::u16string>{u"ovjob4.ovj"});
}

// The real session launch, with a stand-in for the application: it is
// started from the program folder with the job's file name as its argument.
TEST_F(ScheduleWatcherTest, TheApplicationIsStartedInTheSessionWithTheJobName) {
    ovtest::FakeSessionSource source;  // no logind: the caller's environment
    source.processList = {{1, 0, ""}};
    const std::filesystem::path program = m_root.host("bin") + "/Orvane";
    ASSERT_TRUE(ovtest::installProbe(program));
    addJob("ovjob3.ovj", dailyJob(u"08:00:00"));
    ovsvc::ScheduleWatcherHooks h = hooks();
    h.launch = nullptr;
    std::vector<std::u16string> launchLines;
    h.launchLog = [&](std::u16string_view line) { launchLines.emplace_back(line); };
    ovsvc::ScheduleWatcher watcher(std::move(h));
    EXPECT_EQ(watcher.DoSchedualWatcherThread({minuteAt(kYear, kMonth, kMonday, 8, 0)}), 1u);
    ovtest::LaunchRecord record;
    ASSERT_TRUE(ovtest::waitForRecord(program, record));
    ASSERT_EQ(record.arguments.size(), 2u);
    EXPECT_EQ(record.arguments[1], "ovjob3.ovj");
    EXPECT_EQ(record.workingFolder, m_root.host("bin"));
    ASSERT_FALSE(launchLines.empty());
    EXPECT_EQ(launchLines.front(), u"[INFO] LaunchAppIntoDifferentSession=> Start \n");
    EXPECT_EQ(sched(), u"ovjob3.ovj");
}

// The thread on the machine's clock: a pass at once, then it waits for the
// next minute until it is stopped and joined.
TEST_F(ScheduleWatcherTest, TheThreadStopsWhenAsked) {
    ovsvc::ScheduleWatcherHooks h = hooks();
    h.clock = nullptr;
    std::mutex lock;
    std::condition_variable passed;
    bool ended = false;
    h.log = [&](std::string_view line) {
        std::lock_guard<std::mutex> guard(lock);
        if (line.find("Find File") != std::string_view::npos) ended = true;
        passed.notify_all();
    };
    ovsvc::ScheduleThread thread;
    thread.start(std::move(h));
    {
        std::unique_lock<std::mutex> guard(lock);
        passed.wait(guard, [&] { return ended; });
    }
    EXPECT_TRUE(thread.running());
    thread.stop();
    EXPECT_FALSE(thread.running());
}

}  // namespace
