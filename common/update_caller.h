// How the updater tells that the application started it.
//
// The application starts ovUpdate with no command line, and so does the
// logon entry; only the application's start puts one entry in the updater's
// environment (the child's alone, never the application's own):
//
//   ORVANE_UPDATE_CALLER=<process id>:<start time>
//
// the application's process id and that process's start time (clock ticks
// since boot). The pair names the application's process for good: when the
// updater reads it, an ended application or an identifier since taken by
// another process both show as "ended", so the updater's wait for the
// application to end can neither race with the end nor be held by a
// stranger. With the entry, the updater starts the application again after
// its run; without it (the logon entry), it never does.
#pragma once
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace names {

inline constexpr char kUpdateCallerVariable[] = "ORVANE_UPDATE_CALLER";

struct UpdateCaller {
    uint32_t processId = 0;
    uint64_t startTime = 0;
};

inline std::string formatUpdateCaller(const UpdateCaller& caller) {
    return std::to_string(caller.processId) + ":" + std::to_string(caller.startTime);
}

// The entry's value as formatUpdateCaller writes it: two decimal numbers,
// neither 0, and nothing else. Anything else is not a caller.
inline bool parseUpdateCaller(std::string_view text, UpdateCaller& out) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const auto number = [](std::string_view digits, auto& value) {
        if (digits.empty() || digits.size() > 20) return false;
        for (char c : digits)
            if (c < '0' || c > '9') return false;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return error == std::errc() && end == digits.data() + digits.size() && value != 0;
    };
    UpdateCaller caller;
    if (!number(text.substr(0, colon), caller.processId) ||
        !number(text.substr(colon + 1), caller.startTime)) {
        return false;
    }
    out = caller;
    return true;
}

}  // namespace names
