#include "app/results/record_header.h"

#include "platform/text.h"

std::u16string BuildRecordHeaderText(std::u16string_view path, std::u16string_view location,
                                     std::u16string_view type) {
    std::u16string text = u"OVQF\n\rEngine: Orvane Anti-Malware\n\r";
    text += kRecordFileNameLabel;
    text += path;
    text += u"\n\r";
    text += kRecordLocationLabel;
    text += location;
    text += u"\n\r";
    text += kRecordTypeLabel;
    text += u"Generic ";
    text += type;
    text += u"\n\r";
    return text;
}

std::string RecordHeaderBytes(std::u16string_view text) {
    std::string bytes = platform::toUtf16LeBytes(text.substr(0, kRecordHeaderUnits));
    bytes.resize(kRecordHeaderBytes, '\0');
    return bytes;
}

namespace {

std::u16string headerText(std::string_view bytes) {
    bytes = bytes.substr(0, kRecordHeaderBytes);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

RecordHeaderValue valueIn(std::u16string_view text, std::u16string_view label) {
    RecordHeaderValue out;
    size_t at = text.find(label);
    if (at == std::u16string_view::npos) return out;
    std::u16string_view rest = text.substr(at + label.size());
    size_t end = rest.find(u'\n');
    out.complete = end != std::u16string_view::npos && end <= kRecordValueUnits;
    out.value = std::u16string(rest.substr(0, std::min(end, kRecordValueUnits)));
    return out;
}

}  // namespace

RecordHeaderValue ReadRecordHeaderValue(std::string_view headerBytes, std::u16string_view label) {
    return valueIn(headerText(headerBytes), label);
}

RecordHeader ParseRecordHeader(std::string_view headerBytes) {
    std::u16string text = headerText(headerBytes);
    return {valueIn(text, kRecordFileNameLabel), valueIn(text, kRecordLocationLabel),
            valueIn(text, kRecordTypeLabel)};
}
