#include "app/schedule/schedule_list.h"

#include <gtest/gtest.h>

#include "app/schedule/schedule_test_support.h"
#include "common/registry_names.h"
#include "platform/registry.h"

namespace {

jobfile::JobFields dailyFull() {
    jobfile::JobFields job;
    job.name = u"Night";
    job.description = u"all drives";
    job.type = 1035;
    job.time = u"10:30:00 PM";
    return job;
}

jobfile::JobFields weeklyCustom() {
    jobfile::JobFields job;
    job.name = u"Week";
    job.description = u"d";
    job.type = 1036;
    job.weekly = true;
    job.time = u"9:00:00 AM";
    job.days[1] = true;
    return job;
}

class ScheduleListTest : public ScheduleSandbox {};

TEST_F(ScheduleListTest, RowsShowTheSixColumnsOfEachJob) {
    writeJob("ovjob0.ovj", dailyFull());
    writeJob("ovjob1.ovj", weeklyCustom());
    std::u16string finished = jobfile::jobFileText(dailyFull());
    finished.replace(finished.find(u"Status=1224"), 11, u"Status=1227");
    finished.replace(finished.find(u"Type=1035"), 9, u"Type=77");
    writeJobText("ovjob2.ovj", finished);
    std::u16string odd = jobfile::jobFileText(dailyFull());
    odd.replace(odd.find(u"Status=1224"), 11, u"Status=9");
    writeJobText("ovjob3.ovj", odd);

    ScheduleList list(jobsFolder(), nullptr);
    ASSERT_EQ(list.LoadOVActiveJobs(), 4);
    const auto& rows = list.rows();
    EXPECT_EQ(rows[0].name, u"Night");
    EXPECT_EQ(rows[0].type, u"Full System Scout");
    EXPECT_EQ(rows[0].frequency, u"Daily");
    EXPECT_EQ(rows[0].status, u"Active");
    EXPECT_EQ(rows[0].nextRun, u"10:30:00 PM");
    EXPECT_EQ(rows[0].localName, u"ovjob0.ovj");
    EXPECT_EQ(rows[1].type, u"Custom Scout");
    EXPECT_EQ(rows[1].frequency, u"Weekly");
    EXPECT_EQ(rows[1].nextRun, u"9:00:00 AM ");  // the stored blank stays
    EXPECT_EQ(rows[2].type, u"Threat Scout");
    EXPECT_EQ(rows[2].status, u"Finish OK");
    EXPECT_EQ(rows[3].status, u"Active");
    EXPECT_TRUE(prompts.questions().empty());
    EXPECT_TRUE(logHas(u"In LoadOVActiveJobs\n"));
}

TEST_F(ScheduleListTest, NoJobFilesGiveAnEmptyListWithoutMessage) {
    ScheduleList list(jobsFolder(), nullptr);
    EXPECT_EQ(list.LoadOVActiveJobs(), 0);
    EXPECT_TRUE(list.rows().empty());
    EXPECT_TRUE(prompts.questions().empty());
}

TEST_F(ScheduleListTest, AnUnreadableJobGetsAnErrorBoxAndIsLeftOut) {
    writeJob("ovjob0.ovj", dailyFull());
    writeJobText("ovjob1.ovj", std::u16string(jobfile::kMaxJobFileBytes, u'x'));
    ScheduleList list(jobsFolder(), nullptr);
    EXPECT_EQ(list.LoadOVActiveJobs(), 1);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].caption, u"ERROR");
    EXPECT_EQ(prompts.questions()[0].text, u"Open file [ovjob1.ovj] return error 8");
}

TEST_F(ScheduleListTest, TheInformationBoxOfAJob) {
    writeJob("ovjob0.ovj", weeklyCustom());
    ScheduleList list(jobsFolder(), nullptr);
    const std::u16string path = jobsFolder() + u"\\ovjob0.ovj";
    list.ShowSelectedJobInfo(path);
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].caption, path + u" Information");
    EXPECT_EQ(prompts.questions()[0].text,
              u"Name: Week\nDescription: d\nAction: Custom Scout\nDate/Time: Weekly\nStatus: "
              u"Active");
    EXPECT_TRUE(logHas(u"In ShowSelectedJobInfo\n"));

    prompts.clear();
    list.ShowSelectedJobInfo(jobsFolder() + u"\\ovjob5.ovj");
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].caption, u"ERROR");
    EXPECT_EQ(prompts.questions()[0].text,
              u"Open file [" + jobsFolder() + u"\\ovjob5.ovj] return error 2");
}

TEST_F(ScheduleListTest, DeletingAsksFirstAndFreesTheName) {
    writeJob("ovjob0.ovj", dailyFull());
    writeJob("ovjob1.ovj", weeklyCustom());
    ScheduleList list(jobsFolder(), nullptr);
    ASSERT_EQ(list.LoadOVActiveJobs(), 2);

    prompts.queueAnswer(kAnswerNo);
    EXPECT_EQ(list.DeleteJob(u"ovjob0.ovj"), 0);
    EXPECT_TRUE(std::filesystem::exists(jobPath("ovjob0.ovj")));
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].caption, u"Question");
    EXPECT_EQ(prompts.questions()[0].text, u"Are you sure you want to delete the selected job?");
    EXPECT_EQ(prompts.questions()[0].buttons, PromptButtons::YesNo);

    prompts.queueAnswer(kAnswerYes);
    EXPECT_EQ(list.DeleteJob(u"ovjob0.ovj"), 1);
    EXPECT_FALSE(std::filesystem::exists(jobPath("ovjob0.ovj")));
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_EQ(list.rows()[0].localName, u"ovjob1.ovj");

    prompts.queueAnswer(kAnswerYes);
    EXPECT_EQ(list.DeleteJob(u"..\\ovjob1.ovj"), 0);  // never a path out of the folder
}

TEST_F(ScheduleListTest, TheEmailNoticeSetting) {
    const auto readEmail = [] {
        platform::RegKey key;
        EXPECT_EQ(platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key),
                  0u);
        char buffer[1024];
        uint32_t size = sizeof buffer, type = 0;
        if (key.queryValue(names::kValueEMail, &type, buffer, &size) != 0) return std::string();
        EXPECT_EQ(type, platform::kRegExpandSz);
        return std::string(buffer, size);
    };
    const auto notifire = [] {
        uint32_t value = 99;
        (void)platform::readDword(platform::RegRoot::LocalMachine, names::kProductKey,
                                  names::kValueNotifire, value);
        return value;
    };

    EXPECT_EQ(ScheduleList::UpdateEmailNotif(true, u"ab"), 0);  // too short: nothing stored
    EXPECT_EQ(readEmail(), "");
    EXPECT_EQ(notifire(), 99u);

    EXPECT_EQ(ScheduleList::UpdateEmailNotif(true, u"me@example.org"), 1);
    std::string expected = utf16le(u"me@example.org");
    expected.resize(512, '\0');
    EXPECT_EQ(readEmail(), expected);
    EXPECT_EQ(notifire(), 1u);
    EXPECT_EQ(ScheduleList::ReadEmailAddress(), u"me@example.org");

    EXPECT_EQ(ScheduleList::UpdateEmailNotif(false, u""), 1);
    EXPECT_EQ(notifire(), 0u);
    EXPECT_EQ(readEmail(), expected);  // the address stays
    EXPECT_TRUE(logHas(u"In UpdateEmailNotif\n"));

    ASSERT_EQ(platform::deleteTree(platform::RegRoot::LocalMachine, names::kProductKey), 0u);
    EXPECT_EQ(ScheduleList::UpdateEmailNotif(false, u""), 0);
}

}  // namespace
