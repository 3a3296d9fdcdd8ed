// Reading the scan report logs back: a finding line to the row the results
// list shows, the summary to an infection count, a report's file name to its
// date, and a location text to its registry place. Plain functions over
// text; every one stays within the text it is given.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

// One row of the results list, as a finding line of the report gives it.
struct ResultRow {
    std::u16string name;      // the path, with the blank that stands before "["
    std::u16string type;      // the threat type word
    std::u16string location;  // the text between "[" and "]"
};

// A finding line (one that contains "Infected Generic") to its row: the
// type is the word just before the first ": ", the name runs from there to
// the "[" of the last " [" of the line (so a "[" inside a path does not cut
// it), the location from that "[" to the last "]" of the line. A missing
// "[" leaves the name running to the end of the line, a missing "]" the
// location; a line without ": " gives no row, since it names no file.
// Line ends (line feed, carriage return) around the line are not part of it.
std::optional<ResultRow> ParseFindingLine(std::u16string_view line);

// True for the report's summary line (it contains "Scan Finished!").
bool IsSummaryLine(std::u16string_view line);

// The line without the line feeds and carriage returns around it.
std::u16string_view TrimLineEnds(std::u16string_view line);

// The infection count of a report's text: the number after the first
// "Object Scanned," (or the older "Object Scand,"), read from at most 63
// characters up to the first "N" or "I"; 0 when there is no such label or no
// number there. Counts beyond the 32-bit range are held at its limits.
int32_t ScanResultCountFromText(std::string_view reportText);

// "Orvane_3.5.2026.7.8.9.log" -> "3.5.2026": what follows the first "_" up
// to, not including, the third "." after it (the rest of the name when it has
// fewer); empty without "_".
std::u16string ReportDateFromName(std::u16string_view fileName);

// A registry place named by a location text.
struct RegistryPlace {
    std::u16string rootName;  // as written, e.g. "HKEY_CURRENT_USER"
    platform::RegRoot root = platform::RegRoot::LocalMachine;
    std::u16string keyPath;  // empty when the text has only one separator
    std::u16string valueName;
};

// The registry place of a location text, or none when the text does not
// contain "HKEY_" or has no separator after it. The root starts at the first
// "HKEY_" (anything before it, such as the engine's own prefix, is not part
// of the place); it runs to the first "\" or "/" after that, the value name
// is what follows the last separator and the key path what lies between.
// The root maps by exact comparison with the five root names; any other
// root is HKEY_LOCAL_MACHINE. Each part is at most 511 characters.
std::optional<RegistryPlace> ParseLocationText(std::u16string_view location);
