#include "app/results/report_text.h"

#include <climits>

namespace {

constexpr size_t kPartLimit = 511;

std::u16string cut(std::u16string_view text) { return std::u16string(text.substr(0, kPartLimit)); }

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::u16string_view TrimLineEnds(std::u16string_view line) {
    auto isEnd = [](char16_t c) { return c == u'\n' || c == u'\r'; };
    while (!line.empty() && isEnd(line.front())) line.remove_prefix(1);
    while (!line.empty() && isEnd(line.back())) line.remove_suffix(1);
    return line;
}

std::optional<ResultRow> ParseFindingLine(std::u16string_view rawLine) {
    std::u16string_view line = TrimLineEnds(rawLine);
    if (line.find(u"Infected Generic") == std::u16string_view::npos) return std::nullopt;
    size_t colon = line.find(u": ");
    if (colon == std::u16string_view::npos) return std::nullopt;

    ResultRow row;
    size_t blank = colon == 0 ? std::u16string_view::npos : line.rfind(u' ', colon - 1);
    size_t typeStart = blank == std::u16string_view::npos ? 0 : blank + 1;
    row.type = std::u16string(line.substr(typeStart, colon - typeStart));

    size_t nameStart = colon + 2;
    std::u16string_view rest = line.substr(nameStart);
    size_t open = rest.rfind(u" [");
    open = open == std::u16string_view::npos ? rest.find(u'[') : open + 1;
    if (open == std::u16string_view::npos) {
        row.name = std::u16string(rest);
        return row;
    }
    row.name = std::u16string(rest.substr(0, open));
    std::u16string_view after = rest.substr(open + 1);
    size_t close = after.rfind(u']');
    row.location =
        std::u16string(close == std::u16string_view::npos ? after : after.substr(0, close));
    return row;
}

bool IsSummaryLine(std::u16string_view line) {
    return line.find(u"Scan Finished!") != std::u16string_view::npos;
}

int32_t ScanResultCountFromText(std::string_view text) {
    size_t at = text.find("Object Scanned,");
    size_t labelLength = sizeof("Object Scanned,") - 1;
    if (at == std::string_view::npos) {
        at = text.find("Object Scand,");
        labelLength = sizeof("Object Scand,") - 1;
    }
    if (at == std::string_view::npos) return 0;
    std::string_view copied = text.substr(at + labelLength, 63);
    size_t stop = copied.find_first_of("NI");
    if (stop != std::string_view::npos) copied = copied.substr(0, stop);

    size_t i = 0;
    while (i < copied.size() && (copied[i] == ' ' || copied[i] == '\t')) ++i;
    bool negative = false;
    if (i < copied.size() && (copied[i] == '-' || copied[i] == '+')) negative = copied[i++] == '-';
    int64_t value = 0;
    for (; i < copied.size() && copied[i] >= '0' && copied[i] <= '9'; ++i) {
        value = value * 10 + (copied[i] - '0');
        if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
    }
    if (negative) return value > INT32_MAX ? INT32_MIN : -static_cast<int32_t>(value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

std::u16string ReportDateFromName(std::u16string_view fileName) {
    size_t underscore = fileName.find(u'_');
    if (underscore == std::u16string_view::npos) return {};
    std::u16string_view rest = fileName.substr(underscore + 1);
    size_t end = 0;
    for (int dots = 0; end < rest.size(); ++end) {
        if (rest[end] == u'.' && ++dots == 3) break;
    }
    return std::u16string(rest.substr(0, end));
}

std::optional<RegistryPlace> ParseLocationText(std::u16string_view location) {
    size_t start = location.find(u"HKEY_");
    if (start == std::u16string_view::npos) return std::nullopt;
    std::u16string_view text = location.substr(start);
    size_t first = 0;
    while (first < text.size() && !isSeparator(text[first])) ++first;
    if (first == text.size()) return std::nullopt;
    size_t last = text.size() - 1;
    while (!isSeparator(text[last])) --last;

    RegistryPlace place;
    place.rootName = cut(text.substr(0, first));
    place.valueName = cut(text.substr(last + 1));
    if (last > first) place.keyPath = cut(text.substr(first + 1, last - first - 1));
    struct RootName {
        const char16_t* name;
        platform::RegRoot root;
    };
    static constexpr RootName kRoots[] = {
        {u"HKEY_CLASSES_ROOT", platform::RegRoot::ClassesRoot},
        {u"HKEY_CURRENT_CONFIG", platform::RegRoot::CurrentConfig},
        {u"HKEY_CURRENT_USER", platform::RegRoot::CurrentUser},
        {u"HKEY_LOCAL_MACHINE", platform::RegRoot::LocalMachine},
        {u"HKEY_USERS", platform::RegRoot::Users},
    };
    place.root = platform::RegRoot::LocalMachine;
    for (const RootName& candidate : kRoots)
        if (place.rootName == candidate.name) place.root = candidate.root;
    return place;
}
