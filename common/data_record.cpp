#include "common/data_record.h"

#include <cstring>
#include <limits>
#include <string_view>

namespace names {

namespace {

int32_t leadingNumber(std::u16string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == u' ' || (text[at] >= u'\t' && text[at] <= u'\r'))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) negative = text[at++] == u'-';
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
        value = value * 10 + (text[at] - u'0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

std::u16string capped(std::u16string_view field) {
    return std::u16string(field.substr(0, kDataRecordFieldUnits));
}

}  // namespace

DataRecordView ParseDataRecord(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
    std::u16string_view rest = text;
    bool ended = false;
    auto take = [&](bool stopAtZero) {
        if (ended) return std::u16string_view();
        size_t end =
            stopAtZero ? rest.find_first_of(std::u16string_view(u"|\0", 2)) : rest.find(u'|');
        std::u16string_view field = rest.substr(0, end);
        if (end == std::u16string_view::npos) {
            ended = true;
            rest = {};
        } else {
            rest = rest.substr(end + 1);
        }
        return field;
    };
    DataRecordView view;
    // A number field ends at its first non-digit in any case; a zero unit
    // inside a path field is kept out of the text shown.
    auto beforeZero = [](std::u16string_view field) { return field.substr(0, field.find(u'\0')); };
    view.checked = leadingNumber(beforeZero(take(false)));
    view.infected = leadingNumber(beforeZero(take(false)));
    view.lastChecked = capped(beforeZero(take(false)));
    view.lastInfected = capped(take(true));
    return view;
}

}  // namespace names
