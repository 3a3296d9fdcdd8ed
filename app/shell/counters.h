// The two counters the main dialog shows: the elapsed scan time and the
// count-down of the timed message dialog's OK control.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Elapsed scan time as the number of one-second ticks, shown "hh:mm:ss";
// hours have no upper bound.
class ScanTimeCounter {
public:
    void Reset() { m_hours = m_minutes = m_seconds = 0; }
    // Adds one second and returns the text to show.
    std::u16string Tick();
    std::u16string Text() const;

private:
    int32_t m_hours = 0;
    int32_t m_minutes = 0;
    int32_t m_seconds = 0;
};

// The timed message dialog's OK control counts "OK(30)", "OK(29)", ...
// "OK(1)", "OK(0)" one step per tick; the tick that finds "OK(0)" closes it.
inline constexpr char16_t kGenMsgFirstText[] = u"OK(30)";

enum class GenMsgStep { Continue, Close };

// The step for the control's current text; `next` gets the text to set when
// the count goes on. Any text outside the sequence closes nothing and stops
// the count (Close is returned only for "OK(0)").
GenMsgStep NextGenMsgText(std::u16string_view current, std::u16string& next, bool& known);
