#include "app/shell/counters.h"

#include "platform/text.h"

std::u16string ScanTimeCounter::Tick() {
    ++m_seconds;
    if (m_seconds == 60) {
        m_seconds = 0;
        ++m_minutes;
    }
    if (m_minutes == 60) {
        m_minutes = 0;
        ++m_hours;
    }
    return Text();
}

std::u16string ScanTimeCounter::Text() const {
    return platform::format16(u"%02d:%02d:%02d", m_hours, m_minutes, m_seconds);
}

GenMsgStep NextGenMsgText(std::u16string_view current, std::u16string& next, bool& known) {
    known = false;
    next.clear();
    for (int value = 30; value >= 0; --value) {
        if (current == platform::format16(u"OK(%d)", value)) {
            known = true;
            if (value == 0) return GenMsgStep::Close;
            next = platform::format16(u"OK(%d)", value - 1);
            return GenMsgStep::Continue;
        }
    }
    return GenMsgStep::Continue;
}
