#include "common/job_file.h"

#include "common/scan_codes.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace jobfile {

namespace {

constexpr const char16_t* kWeekdays[7] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                          u"Thursday", u"Friday", u"Saturday"};

void appendLine(std::u16string& out, std::u16string_view key, std::u16string_view value) {
    out += key;
    out += value;
    out += u'\n';
}

}  // namespace

std::u16string slotFileName(int slot) { return platform::format16(u"ovjob%d.ovj", slot); }

std::u16string jobFileText(const JobFields& job) {
    std::u16string out = u"[JOB]\n";
    appendLine(out, u"Name=", job.name);
    appendLine(out, u"Desc=", job.description);
    appendLine(out, u"Type=", platform::format16(u"%d", job.type));
    if (job.weekly) {
        appendLine(out, u"Daily=", u"");
        appendLine(out, u"Weekly=", job.time + u" ");
        for (int day = 0; day < 7; ++day) {
            out += kWeekdays[day];
            out += job.days[day] ? u"=1\n" : u"=0\n";
        }
    } else {
        appendLine(out, u"Daily=", job.time);
        appendLine(out, u"Weekly=", u"");
    }
    appendLine(out, u"Shutdown=", job.shutdown ? u"1" : u"0");
    out += u"SendMail=0\nMail=0\nJobRun=0\nNextRun=0\nAction=0\n";
    out += platform::format16(u"Status=%d\n", names::kJobActive);
    return out;
}

std::string jobFileBytes(const JobFields& job) {
    return platform::toUtf16LeBytes(jobFileText(job));
}

std::u16string decodeJobFile(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                    (static_cast<uint8_t>(bytes[i + 1]) << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

std::optional<std::u16string_view> jobValue(std::u16string_view text, std::u16string_view key) {
    std::u16string needle(key);
    needle += u'=';
    const size_t at = text.find(needle);
    if (at == std::u16string_view::npos) return std::nullopt;
    const size_t start = at + needle.size();
    const size_t end = text.find(u'\n', start);
    return text.substr(start,
                       end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
}

WeeklyMark weeklyMark(std::u16string_view text) {
    WeeklyMark mark;
    const size_t at = text.find(u"Daily=");
    if (at == std::u16string_view::npos) return mark;
    mark.position = at + 7;
    mark.character = mark.position < text.size() ? text[mark.position] : 0;
    return mark;
}

bool isWeeklyJob(std::u16string_view text) { return weeklyMark(text).character == u'W'; }

std::optional<std::u16string_view> jobTimeText(std::u16string_view text) {
    return jobValue(text, isWeeklyJob(text) ? u"Weekly" : u"Daily");
}

const char16_t* weekdayName(int dayOfWeek) {
    return dayOfWeek >= 0 && dayOfWeek < 7 ? kWeekdays[dayOfWeek] : nullptr;
}

bool runsOnWeekday(std::u16string_view text, int dayOfWeek) {
    const char16_t* name = weekdayName(dayOfWeek);
    if (name == nullptr) return false;
    std::u16string needle(name);
    needle += u"=1";
    return text.find(needle) != std::u16string_view::npos;
}

int32_t leadingNumber(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > INT32_MAX) {  // saturate as the C library's conversion does
            value = INT32_MAX;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

JobClock parseJobTime(std::u16string_view timeText) {
    JobClock clock;
    const size_t first = timeText.find(u':');
    if (first == std::u16string_view::npos) return clock;
    const size_t second = timeText.find(u':', first + 1);
    clock.rawHour = leadingNumber(timeText.substr(0, first));
    clock.rawMinute = leadingNumber(timeText.substr(first + 1, second == std::u16string_view::npos
                                                                   ? std::u16string_view::npos
                                                                   : second - first - 1));
    int hour = clock.rawHour;
    const bool pm = timeText.find(u"PM") != std::u16string_view::npos;
    const bool am = timeText.find(u"AM") != std::u16string_view::npos;
    if (pm && hour >= 1 && hour <= 11) hour += 12;
    if (!pm && am && hour == 12) hour = 0;
    clock.hour = hour;
    clock.minute = clock.rawMinute;
    clock.valid = hour >= 0 && hour <= 23 && clock.minute >= 0 && clock.minute <= 59;
    return clock;
}

const char16_t* statusDisplayText(int32_t status) {
    const char16_t* text = names::jobStatusText(status);
    return text != nullptr ? text : u"Active";
}

const char16_t* typeDisplayText(int32_t type) {
    switch (type) {
        case names::kScanTypeFull:
            return u"Full System Scout";
        case names::kScanTypeCustom:
            return u"Custom Scout";
        default:
            return u"Threat Scout";
    }
}

uint32_t readJobFile(std::u16string_view path, std::u16string& text) {
    text.clear();
    platform::File file;
    uint32_t status = platform::openFileNoPlantedLink(
        path, platform::kGenericRead, platform::kShareRead | platform::kShareWrite, file);
    if (status != platform::kErrorSuccess) return status;
    uint64_t size = 0;
    status = file.size(size);
    if (status != platform::kErrorSuccess) return status;
    if (size > kMaxJobFileBytes) return platform::kErrorNotEnoughMemory;
    std::string bytes(static_cast<size_t>(size), '\0');
    size_t filled = 0;
    while (filled < bytes.size()) {
        uint32_t got = 0;
        status =
            file.read(bytes.data() + filled, static_cast<uint32_t>(bytes.size() - filled), got);
        if (status != platform::kErrorSuccess) return status;
        if (got == 0) break;
        filled += got;
    }
    bytes.resize(filled);
    text = decodeJobFile(bytes);
    return platform::kErrorSuccess;
}

}  // namespace jobfile
