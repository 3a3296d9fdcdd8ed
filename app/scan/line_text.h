// The two steps of putting a UTF-16 text into the report log as one ASCII
// line, done eight units at a time: with Debug on a scan writes millions
// of lines.
#pragma once
#include <cstddef>

// The number of units before the text's first zero unit.
size_t UnitsBeforeZero(const char16_t* text);

// Writes text[0..length) to out as bytes, each line break ('\n', '\r') as
// '?'. True when every unit was ASCII; otherwise out holds no useful text.
bool NarrowAsciiLine(const char16_t* text, size_t length, char* out);
