#include "common/job_file.h"

#include <gtest/gtest.h>

#include "platform/temp_folder.h"
#include "platform/text.h"

namespace {

using jobfile::JobFields;

struct BytesCase {
    const char* name;
    JobFields job;
    std::u16string text;
};

void PrintTo(const BytesCase& c, std::ostream* out) { *out << c.name; }

JobFields daily() {
    JobFields job;
    job.name = u"Night";
    job.description = u"Night , Daily At: 10:00:00 PM 10:00:00 PM System Shutdown is Disable";
    job.type = 1034;
    job.time = u"10:00:00 PM";
    return job;
}

JobFields weekly(bool monday) {
    JobFields job;
    job.name = u"Week";
    job.description = u"d";
    job.type = 1035;
    job.weekly = true;
    job.time = u"07:05:00";
    job.days[1] = monday;
    job.shutdown = true;
    return job;
}

JobFields descInName() {
    JobFields job = daily();
    job.name = u"a Desc=b";
    job.description = u"real";
    return job;
}

const std::u16string kTail = u"SendMail=0\nMail=0\nJobRun=0\nNextRun=0\nAction=0\nStatus=1224\n";

class JobFileBytes : public ::testing::TestWithParam<BytesCase> {};

TEST_P(JobFileBytes, LinesInOrderAsUtf16LeWithoutMarkOrZero) {
    const BytesCase& c = GetParam();
    EXPECT_EQ(jobfile::jobFileText(c.job), c.text);
    const std::string bytes = jobfile::jobFileBytes(c.job);
    ASSERT_EQ(bytes.size(), c.text.size() * 2);
    EXPECT_EQ(bytes.substr(0, 4), std::string("[\0J\0", 4));  // no byte-order mark
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string("\n\0", 2));
    EXPECT_EQ(bytes.find("\r"), std::string::npos);
    EXPECT_EQ(jobfile::decodeJobFile(bytes), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JobFileBytes,
    ::testing::Values(
        BytesCase{"Daily", daily(),
                  u"[JOB]\nName=Night\nDesc=Night , Daily At: 10:00:00 PM 10:00:00 PM System "
                  u"Shutdown is Disable\nType=1034\nDaily=10:00:00 PM\nWeekly=\nShutdown=0\n" +
                      kTail},
        BytesCase{"WeeklyNoDay", weekly(false),
                  u"[JOB]\nName=Week\nDesc=d\nType=1035\nDaily=\nWeekly=07:05:00 \nSunday=0\n"
                  u"Monday=0\nTuesday=0\nWednesday=0\nThursday=0\nFriday=0\nSaturday=0\n"
                  u"Shutdown=1\n" +
                      kTail},
        BytesCase{"WeeklyMonday", weekly(true),
                  u"[JOB]\nName=Week\nDesc=d\nType=1035\nDaily=\nWeekly=07:05:00 \nSunday=0\n"
                  u"Monday=1\nTuesday=0\nWednesday=0\nThursday=0\nFriday=0\nSaturday=0\n"
                  u"Shutdown=1\n" +
                      kTail},
        BytesCase{"DescInName", descInName(),
                  u"[JOB]\nName=a Desc=b\nDesc=real\nType=1034\nDaily=10:00:00 PM\nWeekly=\n"
                  u"Shutdown=0\n" +
                      kTail}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobFileRead, ValuesByFirstOccurrenceUpToLineFeed) {
    const std::u16string named = jobfile::jobFileText(descInName());
    // The name holding "Desc=" is found first: its rest is taken as the Desc.
    EXPECT_EQ(jobfile::jobValue(named, u"Desc"), std::u16string_view(u"b"));
    EXPECT_EQ(jobfile::jobValue(named, u"Name"), std::u16string_view(u"a Desc=b"));
    EXPECT_EQ(jobfile::jobValue(named, u"Status"), std::u16string_view(u"1224"));
    EXPECT_FALSE(jobfile::jobValue(named, u"Missing").has_value());
    // A description holding a line break is cut there.
    JobFields broken = daily();
    broken.description = u"one\ntwo";
    EXPECT_EQ(jobfile::jobValue(jobfile::jobFileText(broken), u"Desc"),
              std::u16string_view(u"one"));
    // Case matters; the last line may lack its line feed.
    EXPECT_FALSE(jobfile::jobValue(u"status=1224\n", u"Status").has_value());
    EXPECT_EQ(jobfile::jobValue(u"Status=1227", u"Status"), std::u16string_view(u"1227"));
}

TEST(JobFileRead, WeeklyByTheCharacterSevenAfterDaily) {
    EXPECT_FALSE(jobfile::isWeeklyJob(jobfile::jobFileText(daily())));
    EXPECT_TRUE(jobfile::isWeeklyJob(jobfile::jobFileText(weekly(true))));
    EXPECT_FALSE(jobfile::isWeeklyJob(u"Daily="));  // nothing after it
    EXPECT_FALSE(jobfile::isWeeklyJob(u"no key at all"));
    EXPECT_EQ(jobfile::jobTimeText(jobfile::jobFileText(weekly(true))),
              std::u16string_view(u"07:05:00 "));
    EXPECT_EQ(jobfile::jobTimeText(jobfile::jobFileText(daily())),
              std::u16string_view(u"10:00:00 PM"));
    EXPECT_TRUE(jobfile::runsOnWeekday(jobfile::jobFileText(weekly(true)), 1));
    EXPECT_FALSE(jobfile::runsOnWeekday(jobfile::jobFileText(weekly(true)), 2));
    EXPECT_FALSE(jobfile::runsOnWeekday(jobfile::jobFileText(weekly(false)), 1));
    EXPECT_FALSE(jobfile::runsOnWeekday(u"Monday=1", 9));
}

TEST(JobFileRead, TimeTexts) {
    struct Case {
        const char16_t* text;
        bool valid;
        int hour;
        int minute;
    } cases[] = {
        {u"10:30:00 PM", true, 22, 30}, {u"12:15:00 AM", true, 0, 15},
        {u"12:15:00 PM", true, 12, 15}, {u"22:30:00", true, 22, 30},
        {u"07:05:00 ", true, 7, 5},     {u"1:02:03 AM", true, 1, 2},
        {u":5:00", true, 0, 5},         {u"25:00:00", false, 25, 0},
        {u"10:61:00", false, 10, 61},   {u"13:00:00 PM", true, 13, 0},
        {u"no time", false, 0, 0},      {u"", false, 0, 0},
        {u"-1:00:00", false, -1, 0},    {u"99999999999:1", false, 0, 1},
    };
    for (const Case& c : cases) {
        const jobfile::JobClock clock = jobfile::parseJobTime(c.text);
        EXPECT_EQ(clock.valid, c.valid) << platform::toUtf8(c.text);
        if (c.valid) {
            EXPECT_EQ(clock.hour, c.hour) << platform::toUtf8(c.text);
            EXPECT_EQ(clock.minute, c.minute) << platform::toUtf8(c.text);
        }
    }
}

TEST(JobFileRead, DisplayTexts) {
    EXPECT_EQ(std::u16string(jobfile::statusDisplayText(1227)), u"Finish OK");
    EXPECT_EQ(std::u16string(jobfile::statusDisplayText(1224)), u"Active");
    EXPECT_EQ(std::u16string(jobfile::statusDisplayText(1229)), u"Done!");
    EXPECT_EQ(std::u16string(jobfile::statusDisplayText(77)), u"Active");
    EXPECT_EQ(std::u16string(jobfile::typeDisplayText(1035)), u"Full System Scout");
    EXPECT_EQ(std::u16string(jobfile::typeDisplayText(1036)), u"Custom Scout");
    EXPECT_EQ(std::u16string(jobfile::typeDisplayText(1034)), u"Threat Scout");
    EXPECT_EQ(std::u16string(jobfile::typeDisplayText(0)), u"Threat Scout");
    EXPECT_EQ(jobfile::slotFileName(0), u"ovjob0.ovj");
    EXPECT_EQ(jobfile::slotFileName(9), u"ovjob9.ovj");
}

TEST(JobFileRead, DecodeStopsAtZeroAndDropsAnOddByte) {
    EXPECT_EQ(jobfile::decodeJobFile(std::string("A\0B\0\0\0C\0", 8)), u"AB");
    EXPECT_EQ(jobfile::decodeJobFile(std::string("A\0B", 3)), u"A");
    EXPECT_EQ(jobfile::decodeJobFile(""), u"");
}

TEST(JobFileRead, ReadsFilesAndRefusesHugeOnes) {
    ovtest::TempFolder folder;
    folder.writeFile("ovjob0.ovj", jobfile::jobFileBytes(daily()));
    std::u16string text;
    ASSERT_EQ(jobfile::readJobFile(folder.windows(u"ovjob0.ovj"), text), 0u);
    EXPECT_EQ(text, jobfile::jobFileText(daily()));
    EXPECT_EQ(jobfile::readJobFile(folder.windows(u"missing.ovj"), text), 2u);
    folder.writeFile("big.ovj", std::string(jobfile::kMaxJobFileBytes + 2, 'A'));
    EXPECT_EQ(jobfile::readJobFile(folder.windows(u"big.ovj"), text), 8u);
    EXPECT_TRUE(text.empty());
}

}  // namespace
