#include "app/scan/browser_closer.h"

#include <thread>
#include <vector>

#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

constexpr std::u16string_view kWindowsNames[] = {u"iexplore.exe", u"chrome.exe", u"firefox.exe"};

// Executable base names of the browsers found on Linux desktops.
constexpr std::u16string_view kBrowserNames[] = {
    u"firefox",
    u"firefox-esr",
    u"firefox-bin",
    u"chromium",
    u"chromium-browser",
    u"chrome",
    u"google-chrome",
    u"google-chrome-stable",
    u"brave",
    u"brave-browser",
    u"opera",
    u"vivaldi",
    u"vivaldi-bin",
    u"epiphany",
    u"epiphany-browser",
    u"midori",
    u"falkon",
    u"konqueror",
    u"microsoft-edge",
    u"msedge",
    u"librewolf",
    u"waterfox",
    u"seamonkey",
    u"palemoon",
    u"qutebrowser",
};

}  // namespace

bool IsBrowserExecutable(std::u16string_view exeName) {
    for (std::u16string_view name : kWindowsNames)
        if (exeName.find(name) != std::u16string_view::npos) return true;
    for (std::u16string_view name : kBrowserNames)
        if (exeName == name) return true;
    return false;
}

int32_t DoCloseAllWebBrowsers(const std::function<void(const std::u16string&)>& log,
                              std::chrono::milliseconds grace,
                              const std::function<bool(const platform::ProcessEntry&)>& consider) {
    if (log) log(u"In DoCloseAllWebBrowsers");
    const uint32_t self = platform::currentProcessId();
    struct Closing {
        uint32_t pid;
        std::u16string name;
    };
    std::vector<Closing> asked;
    for (const platform::ProcessEntry& process : platform::listProcesses()) {
        if (process.pid == self || !IsBrowserExecutable(process.exeName)) continue;
        if (consider && !consider(process)) continue;
        if (platform::requestProcessExit(process.pid) == 0)
            asked.push_back({process.pid, process.exeName});
    }
    // Every browser gets the same grace time to save its session and end.
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
        bool allEnded = true;
        for (const Closing& closing : asked)
            if (!platform::processHasEnded(closing.pid)) allEnded = false;
        if (allEnded || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int32_t closed = 0;
    for (const Closing& closing : asked) {
        bool killed = false;
        if (!platform::processHasEnded(closing.pid)) {
            // The identifier may have been given to another program since.
            const std::u16string image = platform::processImagePath(closing.pid);
            if (!image.empty() && platform::baseName(image) != closing.name) continue;
            killed = platform::terminateProcess(closing.pid, 0) == 0;
            if (!killed) {
                if (log)
                    log(platform::format16(u"DoCloseAllWebBrowsers: cannot end %s (%u)",
                                           closing.name.c_str(), closing.pid));
                continue;
            }
        }
        ++closed;
        if (log)
            log(platform::format16(u"DoCloseAllWebBrowsers: closed %s (%u)%s", closing.name.c_str(),
                                   closing.pid, killed ? u", killed after the grace time" : u""));
    }
    if (log) log(platform::format16(u"DoCloseAllWebBrowsers: %d browser processes closed", closed));
    return closed;
}
