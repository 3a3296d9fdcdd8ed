// The report log takes engine texts (file names from the scanned disk,
// archive entry names, threat names) and writes them as lines. Any text is
// written as its ANSI form (escaped raw bytes of a non-UTF-8 name go back to
// those bytes) followed by the log's 0x0A 0x0D, with no NUL; a line break
// inside the text becomes "?" (only breaks at its end stay), and nothing of
// it is taken as a format ("%s", "%n" stay text).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/scan/report_log.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

fs::path g_folder;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ReportTime fixedTime() { return {2026, 12, 10, 4, 30, 0}; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A memory file system when there is one: the registry syncs every write.
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    g_folder = base / ("fuzz_report_text." + std::to_string(::getpid()));
    fs::create_directories(g_folder / "logs");
    fs::create_directories(g_folder / "bin");
    // An installation of its own: reports go to the logs folder beside "Path".
    platform::setRegistryFilePath((g_folder / "registry.db").string());
    if (platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                              names::kValuePath,
                              platform::toWindowsPath((g_folder / "bin").string())) != 0)
        abort();
    fs::current_path(g_folder);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(g_folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool debug = data[0] & 1;
    std::u16string text((size - 1) / 2, u'\0');
    std::memcpy(text.data(), data + 1, text.size() * 2);
    text = text.substr(0, text.find(u'\0'));

    fs::path file;
    size_t header = 0;
    {
        // A debug line may be held until the log goes away.
        ReportLog log(fixedTime);
        if (log.open(u"Custom Scan") != 1) abort();
        const std::string windowsPath = platform::toUtf8(log.path());
        file = windowsPath.substr(windowsPath.rfind('\\') + 1);
        header = fs::file_size(g_folder / "logs" / file);
        if (log.writeLine(text.c_str(), debug) != 1) abort();
    }
    const std::string all = readAll(g_folder / "logs" / file);
    std::u16string expected = debug ? std::u16string(u"*** DEBUG *** ") : std::u16string();
    std::u16string body = text;  // breaks inside the text become "?"
    size_t end = body.size();
    while (end > 0 && (body[end - 1] == u'\n' || body[end - 1] == u'\r')) --end;
    for (size_t i = 0; i < end; ++i)
        if (body[i] == u'\n' || body[i] == u'\r') body[i] = u'?';
    expected += body;
    if (all.substr(header) != platform::toAnsi(expected) + "\n\r") abort();
    return 0;
}
