// The quarantine record's header: 512 bytes of UTF-16LE text in front of the
// quarantined content, five lines each ended by line feed and carriage
// return. Only the first 256 characters of the text are kept; a shorter text
// is followed by zeros.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t kRecordHeaderBytes = 512;
inline constexpr size_t kRecordHeaderUnits = 256;
inline constexpr size_t kRecordValueUnits = 255;

inline constexpr char16_t kRecordFileNameLabel[] = u"File Name: ";
inline constexpr char16_t kRecordLocationLabel[] = u"File Location: ";
inline constexpr char16_t kRecordTypeLabel[] = u"Malware Type: ";

// "OVQF\n\rEngine: Orvane Anti-Malware\n\rFile Name: %s\n\rFile Location: %s\n\r
// Malware Type: Generic %s\n\r" filled with path, location and type.
std::u16string BuildRecordHeaderText(std::u16string_view path, std::u16string_view location,
                                     std::u16string_view type);

// The 512 header bytes of a text: its first 256 characters as UTF-16LE,
// then zeros.
std::string RecordHeaderBytes(std::u16string_view text);

// One value of a header: the text after its label up to the next line feed,
// at most 255 characters. complete is false when no line feed ends it inside
// the header (the header was cut inside this value, so it may be partial) or
// when the label is missing (then the value is empty).
struct RecordHeaderValue {
    std::u16string value;
    bool complete = false;
};

// Reads a value from the header bytes (at most the first 512 are looked at;
// the text ends at its first zero character).
RecordHeaderValue ReadRecordHeaderValue(std::string_view headerBytes, std::u16string_view label);

// The three values a record's header holds.
struct RecordHeader {
    RecordHeaderValue fileName;
    RecordHeaderValue location;
    RecordHeaderValue malwareType;
};
RecordHeader ParseRecordHeader(std::string_view headerBytes);
