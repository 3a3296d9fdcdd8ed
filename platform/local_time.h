// The wall-clock time of this machine's time zone, as a program that shows
// or compares times of day needs it (the fields of a local SYSTEMTIME).
#pragma once
#include <chrono>
#include <cstdint>

namespace platform {

struct LocalTime {
    int year = 1601;
    int month = 1;      // 1..12
    int day = 1;        // 1..31
    int dayOfWeek = 1;  // 0 Sunday .. 6 Saturday
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

// The local time of an instant in the time zone in force (TZ, else the
// system's). Safe from any thread.
LocalTime toLocalTime(std::chrono::system_clock::time_point when);

}  // namespace platform
