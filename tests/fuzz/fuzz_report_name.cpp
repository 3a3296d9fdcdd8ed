// A file name from the logs folder (UTF-16) to the date the reports list
// shows: always a piece of the name after its first "_", with at most two
// points in it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/results/report_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string name(size / 2, u'\0');
    std::memcpy(name.data(), data, name.size() * 2);
    std::u16string date = ReportDateFromName(name);
    size_t underscore = name.find(u'_');
    if (underscore == std::u16string::npos) {
        if (!date.empty()) abort();
        return 0;
    }
    if (name.compare(underscore + 1, date.size(), date) != 0) abort();
    if (std::count(date.begin(), date.end(), u'.') > 2) abort();
    return 0;
}
