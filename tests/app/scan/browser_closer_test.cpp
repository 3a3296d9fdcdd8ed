#include "app/scan/browser_closer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/scan/app_sandbox_support.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

TEST(BrowserNames, WindowsNamesAnywhereAndThisPlatformsByBaseName) {
    const struct {
        const char16_t* name;
        bool browser;
    } cases[] = {
        {u"firefox", true},       {u"firefox-esr", true},
        {u"chromium", true},      {u"chrome", true},
        {u"google-chrome", true}, {u"brave", true},
        {u"opera", true},         {u"epiphany", true},
        {u"firefox.exe", true},   {u"my-chrome.exe", true},
        {u"iexplore.exe", true},  {u"Firefox.EXE", false},
        {u"firefoxy", false},     {u"chromedriver", false},
        {u"bash", false},         {u"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsBrowserExecutable(c.name), c.browser) << platform::toUtf8(c.name);
    }
}

// Copies of a harmless program named like browsers, run as this test's
// children: the closer ends them (one ignores the polite request and is
// killed after the grace time) and leaves the others alone.
TEST(BrowserCloser, EndsChildBrowsersAndSparesTheRest) {
    apptest::AppSandbox box;
    const fs::path sleep = fs::exists("/bin/sleep") ? "/bin/sleep" : "/usr/bin/sleep";
    ASSERT_TRUE(fs::exists(sleep));
    auto copyAs = [&](const std::string& name) {
        const fs::path copy = box.temp / name;
        fs::copy_file(sleep, copy);
        fs::permissions(copy, fs::perms::owner_all);
        return copy.string();
    };
    const std::string firefox = copyAs("firefox");
    const std::string chromium = copyAs("chromium");
    const std::string stubborn = copyAs("firefox-esr");
    const std::string editor = copyAs("editor");

    platform::SpawnOptions options;
    std::vector<std::unique_ptr<platform::ChildProcess>> children;
    auto spawn = [&](const std::vector<std::string>& argv) {
        auto child = std::make_unique<platform::ChildProcess>();
        EXPECT_EQ(platform::ChildProcess::spawn(argv, options, *child), 0u);
        children.push_back(std::move(child));
        return children.back().get();
    };
    platform::ChildProcess* a = spawn({firefox, "300"});
    platform::ChildProcess* b = spawn({chromium, "300"});
    // An ignored SIGTERM survives exec: this one only ends when killed.
    platform::ChildProcess* c = spawn({"/bin/sh", "-c", "trap '' TERM; exec " + stubborn + " 300"});
    platform::ChildProcess* other = spawn({editor, "300"});
    // The shell has become firefox-esr once its executable says so.
    ASSERT_TRUE(apptest::WaitFor(
        [&] {
            return platform::processImagePath(c->pid()).find(u"firefox-esr") !=
                   std::u16string::npos;
        },
        {}));

    const uint32_t self = platform::currentProcessId();
    std::vector<std::u16string> lines;
    const int32_t closed = DoCloseAllWebBrowsers(
        [&](const std::u16string& line) { lines.push_back(line); }, std::chrono::milliseconds(300),
        [&](const platform::ProcessEntry& process) { return process.parentPid == self; });

    EXPECT_EQ(closed, 3);
    // A killed process is gone a moment after the signal, not at once.
    for (platform::ChildProcess* browser : {a, b, c})
        EXPECT_TRUE(
            apptest::WaitFor([&] { return !browser->isRunning(); }, {}, std::chrono::seconds(30)));
    EXPECT_TRUE(other->isRunning());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), u"In DoCloseAllWebBrowsers");
    EXPECT_EQ(lines.back(), u"DoCloseAllWebBrowsers: 3 browser processes closed");
    size_t killed = 0;
    for (const auto& line : lines)
        if (line.find(u"killed after the grace time") != std::u16string::npos) ++killed;
    EXPECT_EQ(killed, 1u);
}

}  // namespace
