// Job files are read by the service as root from a folder the application
// writes: any bytes must decode, and every value the readers take must lie
// inside the text, end before a line feed, and a time must be valid only
// with an hour and minute of a real clock. A text written back from what was
// read keeps the values a reader finds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/job_file.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkValue(std::u16string_view text, std::u16string_view key) {
    const auto value = jobfile::jobValue(text, key);
    if (!value) return;
    check(value->data() >= text.data() &&
          value->data() + value->size() <= text.data() + text.size());
    check(value->find(u'\n') == std::u16string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string text =
        jobfile::decodeJobFile(std::string_view(reinterpret_cast<const char*>(data), size));
    check(text.size() <= size / 2);
    check(text.find(u'\0') == std::u16string::npos);
    for (std::u16string_view key : {u"Name", u"Desc", u"Type", u"Daily", u"Weekly", u"Status"})
        checkValue(text, key);
    const jobfile::WeeklyMark mark = jobfile::weeklyMark(text);
    check(mark.character == 0 || mark.position < text.size());
    if (const auto time = jobfile::jobTimeText(text)) {
        const jobfile::JobClock clock = jobfile::parseJobTime(*time);
        if (clock.valid)
            check(clock.hour >= 0 && clock.hour <= 23 && clock.minute >= 0 && clock.minute <= 59);
    }
    for (int day = -1; day <= 7; ++day) (void)jobfile::runsOnWeekday(text, day);
    (void)jobfile::statusDisplayText(
        jobfile::leadingNumber(jobfile::jobValue(text, u"Status").value_or(u"")));

    // What the editor would write from these values reads back the same,
    // as long as they hold none of the keys themselves.
    jobfile::JobFields job;
    job.name = std::u16string(jobfile::jobValue(text, u"Name").value_or(u""));
    job.time = std::u16string(jobfile::jobTimeText(text).value_or(u""));
    if (job.name.find(u'=') == std::u16string::npos &&
        job.time.find(u'=') == std::u16string::npos &&
        job.name.find(u'\0') == std::u16string::npos) {
        const std::u16string written = jobfile::jobFileText(job);
        check(jobfile::jobValue(written, u"Name") == std::u16string_view(job.name));
        check(jobfile::jobValue(written, u"Daily") == std::u16string_view(job.time));
        // The editor's time picker writes digits, colons, a blank and AM or
        // PM only, which never put the weekly mark ('W' seven units after
        // "Daily=") into a daily job; another daily text may ("0W").
        const bool pickerTime =
            job.time.find_first_not_of(u"0123456789: AMP") == std::u16string::npos;
        check(!jobfile::isWeeklyJob(written) || job.time.empty() || !pickerTime);
    }
    return 0;
}
