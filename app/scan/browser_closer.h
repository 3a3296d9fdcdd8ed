// Closing the web browsers before a scan, when the user asked for it: every
// process whose executable's base name is a browser's is asked to end
// (SIGTERM); one still running after a grace time is killed. The
// application itself is never closed.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// True for a browser's executable name: one containing "iexplore.exe",
// "chrome.exe" or "firefox.exe" (as on Windows, case-sensitive), or the
// exact base name of a browser of this platform (firefox, chromium, ...).
bool IsBrowserExecutable(std::u16string_view exeName);

namespace platform {
struct ProcessEntry;
}

// Closes every browser process and returns how many were closed. log gets
// one line per process closed and the total. consider, when given, limits
// the processes looked at (tests keep to their own children).
int32_t DoCloseAllWebBrowsers(
    const std::function<void(const std::u16string&)>& log = {},
    std::chrono::milliseconds grace = std::chrono::milliseconds(2000),
    const std::function<bool(const platform::ProcessEntry&)>& consider = {});
