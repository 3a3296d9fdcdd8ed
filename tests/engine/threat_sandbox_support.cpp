#include "threat_sandbox_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/digest_text.h"
#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/md5.h"
#include "engine/threat_scan.h"
#include "platform/message.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "shared/stored_database.h"

extern "C" char** environ;

namespace threat_test {

namespace {

std::atomic<int> g_sandboxCount{0};

std::string md5Text(std::string_view bytes) {
    Md5Hasher hasher;
    uint8_t digest[16] = {};
    EXPECT_TRUE(hasher.update(bytes.data(), bytes.size()));
    EXPECT_TRUE(hasher.finish(digest));
    return names::digestTextUpperAscii(digest);
}

void writeFile(const fs::path& path, std::string_view content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

ThreatSandbox::ThreatSandbox() {
    // A scan moves the working directory to the program folder; it is put
    // back afterwards (or, when it no longer exists, left somewhere that does).
    std::error_code cwdError;
    m_savedCwd = fs::current_path(cwdError);
    if (cwdError) m_savedCwd = fs::temp_directory_path();
    root = fs::temp_directory_path() /
           ("ov-threat-" + std::to_string(::getpid()) + "-" + std::to_string(++g_sandboxCount));
    fs::remove_all(root);
    c = root / "c";
    bin = root / "bin";
    data = root / "data";
    temp = root / "temp";
    units = root / "units";
    for (const fs::path& folder : {c, bin, data, temp, units, root / "logs"}) {
        fs::create_directories(folder);
    }
    const std::pair<const char*, std::string> env[] = {
        {"ORVANE_REGISTRY", (root / "registry.db").string()},
        {"TMPDIR", temp.string()},
        {"ORVANE_SYSTEMD_UNIT_PATH", units.string()},
    };
    for (const auto& [name, value] : env) {
        const char* old = std::getenv(name);
        m_savedEnv.emplace_back(name, old ? old : "\1");
        ::setenv(name, value.c_str(), 1);
    }
    platform::resetRegistryConnection();

    // C: is the sandbox; the host's root then shows as another drive.
    EXPECT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey,
                                    u"\\DosDevices\\C:", platform::toUtf16(c.string())),
              0u);
    writeFile(root / "disk.img", std::string(8192, '\0'));
    EXPECT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey,
                                    u"\\\\.\\PhysicalDrive0",
                                    platform::toUtf16((root / "disk.img").string())),
              0u);
    EXPECT_EQ(platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                    names::kValuePath, platform::toWindowsPath(bin.string())),
              0u);
    setAllThreatSettings(0);
    EXPECT_EQ(platform::userName(user), 0u);

    resetThreatScanHooks();
    ThreatScanHooks& hooks = threatScanHooks();
    // The machine's own processes are left alone unless a test asks.
    hooks.runningProcessList = [] { return std::vector<platform::ProcessEntry>{}; };
    hooks.idleStepDuration = std::chrono::milliseconds(10);
    hooks.driverSources.modulesList = (root / "proc-modules").string();
    hooks.driverSources.modulesRoot = (c / "lib" / "modules").string();
    writeFile(hooks.driverSources.modulesList, "");
    writeFile(c / "lib" / "modules" / "modules.dep", "");
    writeDatabase();
}

ThreatSandbox::~ThreatSandbox() {
    resetThreatScanHooks();
    std::error_code ec;
    fs::current_path(m_savedCwd, ec);
    if (ec) fs::current_path(fs::temp_directory_path(), ec);
    platform::resetRegistryConnection();
    for (const auto& [name, value] : m_savedEnv) {
        if (value == "\1") {
            ::unsetenv(name.c_str());
        } else {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    fs::remove_all(root, ec);
}

fs::path ThreatSandbox::plant(const fs::path& hostPath, std::string content) {
    if (content.empty()) content = "planted sample " + hostPath.string();
    writeFile(hostPath, content);
    addHash(content);
    return hostPath;
}

fs::path ThreatSandbox::placeClean(const fs::path& hostPath) {
    writeFile(hostPath, "clean file " + hostPath.string());
    return hostPath;
}

void ThreatSandbox::addHash(std::string_view bytes) {
    m_hashes.push_back(md5Text(bytes));
    writeDatabase();
}

void ThreatSandbox::writeDatabase() {
    std::string error;
    ASSERT_TRUE(
        ovtest::writeDatabaseFile(data / "hashdb.dbf", ovtest::databaseText(m_hashes), error))
        << error;
}

void ThreatSandbox::setSetting(const char16_t* name, uint32_t value) {
    EXPECT_EQ(
        platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value),
        0u);
}

void ThreatSandbox::setAllThreatSettings(uint32_t value) {
    for (const char16_t* name :
         {names::kIgnoreLarageFiles, names::kSmartExt, names::kScanArchives, names::kSendStatistics,
          names::kDeep, names::kScanStartup, names::kScanSrvDrv, names::kScanPageFile,
          names::kScanMBR, names::kScanSysRestore, names::kHidden, names::kScanFav}) {
        setSetting(name, value);
    }
}

std::vector<Message> ThreatSandbox::run(ScanRequest* request) {
    ScanRequest local{};
    if (request == nullptr) request = &local;
    request->scanType = names::kScanTypeThreat;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.clear();
    }
    platform::WindowHandle window =
        platform::createWindow([this](uint32_t code, const char16_t* text) -> intptr_t {
            std::u16string_view view = text ? text : u"";
            // The channel's own traces say nothing about the scan.
            if (code == SCANMSG_DEBUG && startsWith(view, u"SendOVMsg ")) return 0;
            if (onMessage) onMessage(code, std::u16string(view));
            std::lock_guard<std::mutex> guard(m_lock);
            m_messages.push_back({code, std::u16string(view)});
            return 0;
        });
    request->hwndNotify = window;
    StartOVScan(request);
    platform::destroyWindow(window);
    std::lock_guard<std::mutex> guard(m_lock);
    m_privilegesMissing = hasText(m_messages, SCANMSG_STATUS, u"no privilege error");
    EXPECT_FALSE(hasText(m_messages, SCANMSG_STATUS, u"unable to load db file!"));
    return m_messages;
}

std::u16string ThreatSandbox::walkedName(const fs::path& host) {
    return platform::toLower(platform::toWindowsPath(host.string()));
}

std::string ThreatSandbox::toHost(const std::u16string& text) { return platform::toUtf8(text); }

TestChild::TestChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0) m_pid = pid;
}

TestChild::~TestChild() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        wait();
    }
}

void TestChild::wait() {
    if (m_pid <= 0) return;
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

std::vector<std::u16string> textsOf(const std::vector<Message>& messages, uint32_t code) {
    std::vector<std::u16string> out;
    for (const Message& m : messages) {
        if (m.code == code) out.push_back(m.text);
    }
    return out;
}

size_t countText(const std::vector<Message>& messages, uint32_t code, std::u16string_view text) {
    size_t n = 0;
    for (const Message& m : messages) {
        if (m.code == code && m.text == text) ++n;
    }
    return n;
}

bool hasText(const std::vector<Message>& messages, uint32_t code, std::u16string_view text) {
    return countText(messages, code, text) > 0;
}

std::u16string reportLine(std::u16string_view name, std::u16string_view extra) {
    std::u16string line = u" Infected Generic Malware: ";
    line += name;
    line += u" [";
    line += extra;
    line += u"].";
    return line;
}

std::string show(const std::vector<std::u16string>& texts) {
    std::ostringstream out;
    for (const std::u16string& text : texts) out << "\n  \"" << platform::toUtf8(text) << "\"";
    return out.str();
}

}  // namespace threat_test
