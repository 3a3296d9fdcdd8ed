#include "app/schedule/job_editor.h"

#include <gtest/gtest.h>

#include "app/schedule/schedule_test_support.h"
#include "platform/text.h"

namespace {

class JobEditorTest : public ScheduleSandbox {};

TEST_F(JobEditorTest, StartsAsANewDailyThreatScoutJob) {
    JobEditor editor(jobsFolder());
    editor.Start(u"10:00:00 PM");
    EXPECT_EQ(editor.name, u"Scan Type");
    EXPECT_EQ(editor.typeButton, jobedit::kThreatScout);
    EXPECT_EQ(editor.intervalButton, jobedit::kDaily);
    EXPECT_EQ(editor.description, u"Scan Type, Threat Scout, Daily at: 10:00:00 PM");
    EXPECT_TRUE(logHas(u"In SchduleJob\n"));
}

struct DescriptionCase {
    const char* name;
    int32_t type;
    int32_t interval;
    std::vector<int> days;
    bool shutdown;
    std::u16string expected;
};

void PrintTo(const DescriptionCase& c, std::ostream* out) { *out << c.name; }

class Descriptions : public JobEditorTest, public ::testing::WithParamInterface<DescriptionCase> {};

TEST_P(Descriptions, AreBuiltFromNameTypeIntervalAndDays) {
    const DescriptionCase& c = GetParam();
    JobEditor editor(jobsFolder());
    editor.name = u"Night";
    editor.typeButton = c.type;
    editor.intervalButton = c.interval;
    editor.dailyTime = u"10:00:00 PM";
    editor.weeklyTime = u"06:00:00 AM";
    for (int day : c.days) editor.days[day] = true;
    editor.shutdown = c.shutdown;
    editor.UpdateOVSchedDesc();
    EXPECT_EQ(editor.description, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Descriptions,
    ::testing::Values(
        DescriptionCase{"DailyAtTenPm",
                        jobedit::kThreatScout,
                        jobedit::kDaily,
                        {},
                        false,
                        u"Night , Daily At: 10:00:00 PM 10:00:00 PM System Shutdown is Disable"},
        DescriptionCase{"WeeklyMonday",
                        jobedit::kThreatScout,
                        jobedit::kWeekly,
                        {1},
                        false,
                        u"Night , Threat Scout  , Weekly At: , Monday System Shutdown is Disable"},
        DescriptionCase{"DailyFullWithShutdown",
                        jobedit::kFullScout,
                        jobedit::kDaily,
                        {3},
                        true,
                        u"Night , Daily At: 10:00:00 PM 10:00:00 PM System Shutdown is Enable"},
        DescriptionCase{"WeeklyCustomTwoDays",
                        jobedit::kCustomScout,
                        jobedit::kWeekly,
                        {0, 6},
                        true,
                        u"Night , Custom Scout  , Weekly At: , Sunday, Saturday System Shutdown "
                        u"is Enable"},
        DescriptionCase{"WeeklyFullNoDay",
                        jobedit::kFullScout,
                        jobedit::kWeekly,
                        {},
                        false,
                        u"Night , Full System Scout  , Weekly At:  System Shutdown is Disable"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobEditorTest, CommandsCheckOneButtonAndRebuildTheDescription) {
    JobEditor editor(jobsFolder());
    editor.Start(u"08:00:00");
    editor.name = u"Morning";
    EXPECT_EQ(editor.OnCommand(jobedit::kWeekly), 0);
    EXPECT_EQ(editor.intervalButton, jobedit::kWeekly);
    EXPECT_EQ(editor.OnCommand(jobedit::kFullScout), 0);
    EXPECT_EQ(editor.typeButton, jobedit::kFullScout);
    EXPECT_EQ(editor.description,
              u"Morning , Full System Scout  , Weekly At:  System Shutdown is Disable");
    // A weekday box changes nothing else.
    editor.days[2] = true;
    EXPECT_EQ(editor.OnCommand(jobedit::kSunday + 2), 0);
    EXPECT_EQ(editor.description,
              u"Morning , Full System Scout  , Weekly At:  System Shutdown is Disable");
    editor.shutdown = true;
    EXPECT_EQ(editor.OnCommand(jobedit::kShutdown), 0);
    EXPECT_EQ(editor.description,
              u"Morning , Full System Scout  , Weekly At: , Tuesday System Shutdown is Enable");
    EXPECT_EQ(editor.OnCommand(jobedit::kCancel), 2);
    EXPECT_TRUE(logHas(u"In UpdateOVSchedDesc\n"));
}

TEST_F(JobEditorTest, SavesIntoTheLowestFreeSlot) {
    writeJob("ovjob0.ovj", {});
    writeJob("ovjob2.ovj", {});
    JobEditor editor(jobsFolder());
    editor.Start(u"10:30:00 PM");
    editor.name = u"Night";
    editor.OnCommand(jobedit::kWeekly);
    editor.weeklyTime = u"9:00:00 AM";
    editor.days[1] = true;
    EXPECT_EQ(editor.OnCommand(jobedit::kSave), 1);
    EXPECT_EQ(editor.savedFileName(), u"ovjob1.ovj");

    jobfile::JobFields expected;
    expected.name = u"Night";
    expected.description = editor.description;
    expected.type = 1034;
    expected.weekly = true;
    expected.time = u"9:00:00 AM";
    expected.days[1] = true;
    EXPECT_EQ(readBytes(jobPath("ovjob1.ovj")), jobfile::jobFileBytes(expected));
    EXPECT_TRUE(logHas(u"In SaveOVSchdJob\n"));
}

TEST_F(JobEditorTest, TenJobsLeaveNoSlotAndNothingIsSaved) {
    for (int slot = 0; slot < 10; ++slot)
        writeJobText("ovjob" + std::to_string(slot) + ".ovj", u"kept");
    JobEditor editor(jobsFolder());
    editor.Start(u"08:00:00");
    EXPECT_EQ(editor.SaveOVSchdJob(), 0);
    EXPECT_EQ(editor.OnCommand(jobedit::kSave), 1);  // the editor still closes normally
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "jobs")) {
        ++files;
        EXPECT_EQ(readBytes(entry.path()), utf16le(u"kept"));
    }
    EXPECT_EQ(files, 10u);
}

TEST_F(JobEditorTest, AMissingJobsFolderSavesNothing) {
    std::filesystem::remove_all(folder.path() / "jobs");
    JobEditor editor(jobsFolder());
    editor.Start(u"08:00:00");
    EXPECT_EQ(editor.SaveOVSchdJob(), 0);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "jobs"));
}

TEST_F(JobEditorTest, ANameIsCutAtItsLimit) {
    JobEditor editor(jobsFolder());
    editor.Start(u"08:00:00");
    editor.name = std::u16string(600, u'n');
    ASSERT_EQ(editor.SaveOVSchdJob(), 1);
    std::u16string text;
    ASSERT_EQ(jobfile::readJobFile(jobsFolder() + u"\\ovjob0.ovj", text), 0u);
    EXPECT_EQ(jobfile::jobValue(text, u"Name")->size(), 511u);
}

}  // namespace
