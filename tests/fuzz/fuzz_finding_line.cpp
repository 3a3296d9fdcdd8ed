// A report line (the bytes of one line of a scan report, taken as the ANSI
// text it is) to the results list's row, and its location text to a
// registry place. Every part of the row is a piece of the line; the place's
// parts are pieces of the location and never longer than 511 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/results/report_text.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string line =
        platform::fromAnsi(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)IsSummaryLine(line);
    std::optional<ResultRow> row = ParseFindingLine(line);
    if (!row) return 0;
    for (const std::u16string* part : {&row->name, &row->type, &row->location})
        if (line.find(*part) == std::u16string::npos) abort();
    if (std::optional<RegistryPlace> place = ParseLocationText(row->location)) {
        for (const std::u16string* part : {&place->rootName, &place->keyPath, &place->valueName}) {
            if (part->size() > 511) abort();
            if (row->location.find(*part) == std::u16string::npos) abort();
        }
        if (place->rootName.rfind(u"HKEY_", 0) != 0) abort();
    }
    return 0;
}
