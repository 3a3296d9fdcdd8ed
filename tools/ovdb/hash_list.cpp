#include "tools/ovdb/hash_list.h"

#include <cctype>

#include "common/digest_text.h"

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string NormalisedHash(std::string_view text) {
    if (!names::isDigestText(text)) return {};
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string HashOfListLine(std::string_view line) {
    line = Trim(line);
    // BSD style: MD5 (name) = hash
    if (line.substr(0, 5) == "MD5 (") {
        size_t at = line.rfind(") = ");
        return at == std::string_view::npos ? std::string()
                                            : NormalisedHash(Trim(line.substr(at + 4)));
    }
    // md5sum marks names with special characters by a leading backslash.
    if (!line.empty() && line.front() == '\\') line.remove_prefix(1);
    size_t end = 0;
    while (end < line.size() && line[end] != ':' &&
           !std::isspace(static_cast<unsigned char>(line[end])))
        ++end;
    return NormalisedHash(line.substr(0, end));
}

void ParseHashList(std::string_view text, std::vector<std::string>& hashes,
                   std::vector<BadListLine>& bad) {
    size_t number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') continue;
        std::string hash = HashOfListLine(trimmed);
        if (hash.empty())
            bad.push_back({number, std::string(trimmed.substr(0, 80))});
        else
            hashes.push_back(std::move(hash));
    }
}
