#include "platform/local_time.h"

#include <time.h>

namespace platform {

LocalTime toLocalTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(when);
    const time_t stamp = static_cast<time_t>(seconds.time_since_epoch().count());
    struct tm fields = {};
    LocalTime out;
    if (localtime_r(&stamp, &fields) == nullptr) return out;
    out.year = fields.tm_year + 1900;
    out.month = fields.tm_mon + 1;
    out.day = fields.tm_mday;
    out.dayOfWeek = fields.tm_wday;
    out.hour = fields.tm_hour;
    out.minute = fields.tm_min;
    out.second = fields.tm_sec;
    out.milliseconds = static_cast<int>(duration_cast<milliseconds>(when - seconds).count());
    return out;
}

}  // namespace platform
