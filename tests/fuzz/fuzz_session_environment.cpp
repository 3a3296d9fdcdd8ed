// The environment a program started for the user gets, built from what a
// user's own process holds in its environment (bytes that user wrote).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "tests/launch_probe/fake_session_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    ovtest::FakeSessionSource source;
    std::vector<std::string>& entries = source.environments[900];
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        if (end > start) entries.emplace_back(bytes, start, end - start);
        start = end + 1;
    }
    source.caller = {"ORVANE_REGISTRY=/r.db"};
    const platform::UserSession session{"2", 1000, 500, size % 2 ? "x11" : "wayland", ":0"};
    const auto result = platform::userSessionEnvironment(session, {{900, 1000, "2"}}, source);

    static const std::set<std::string_view> allowed = {"PATH",
                                                       "HOME",
                                                       "USER",
                                                       "LOGNAME",
                                                       "ORVANE_REGISTRY",
                                                       "DISPLAY",
                                                       "XAUTHORITY",
                                                       "WAYLAND_DISPLAY",
                                                       "XDG_RUNTIME_DIR",
                                                       "DBUS_SESSION_BUS_ADDRESS",
                                                       "LANG",
                                                       "XDG_SESSION_TYPE"};
    std::string previous;
    for (const std::string& entry : result) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) abort();
        if (allowed.count(std::string_view(entry).substr(0, equals)) == 0) abort();
        if (entry.find('\n') != std::string::npos || entry.find('\r') != std::string::npos) abort();
        if (!previous.empty() && !(previous < entry)) abort();
        previous = entry;
    }
    // The base is always there, whatever the process held.
    bool home = false, path = false;
    for (const std::string& entry : result) {
        home = home || entry == "HOME=/root";
        path = path || entry == "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    }
    if (!home || !path) abort();
    return 0;
}
