// Windows-form paths come from job files, quarantine records, the registry
// and command lines. Any text converts without fault; a host path made from
// one never keeps a "." or ".." component (so it cannot climb above its
// drive's root), and any host name survives the trip to Windows form and
// back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/fs.h"
#include "platform/linux/path_internal.h"
#include "platform/path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string name = bytes.substr(0, bytes.find('/'));  // a host name has no slash
    if (platform::detail::windowsNameToHost(platform::detail::hostNameToWindows(name)) != name)
        abort();

    std::u16string text(reinterpret_cast<const char16_t*>(data), size / 2);
    std::string host = platform::toHostPath(text);
    if (!host.empty()) {
        if (host[0] != '/') abort();
        for (size_t start = 1; start < host.size();) {
            size_t end = host.find('/', start);
            if (end == std::string::npos) end = host.size();
            std::string_view part(host.data() + start, end - start);
            if (part.empty() || part == "." || part == "..") abort();
            start = end + 1;
        }
        (void)platform::toWindowsPath(host);
    }
    (void)platform::parentPath(text);
    (void)platform::baseName(text);
    (void)platform::joinPath(text, text);

    // The first half is a pattern for the second.
    std::u16string_view pattern(text), candidate;
    size_t split = pattern.find(u'|');
    if (split != std::u16string_view::npos) {
        candidate = pattern.substr(split + 1);
        pattern = pattern.substr(0, split);
    }
    bool matched = platform::matchesWildcard(pattern, candidate);
    if (pattern == u"*" && !matched) abort();
    return 0;
}
