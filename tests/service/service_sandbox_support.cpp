#include "service/service_sandbox_support.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "platform/linux/service_runtime.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/shm.h"
#include "platform/text.h"

namespace svctest {

namespace {

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

constexpr char16_t kService[] = u"Orvane Service";

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv) {
    std::string command;
    for (const std::string& word : argv) command += (command.empty() ? "" : " ") + Quote(word);
    command += " </dev/null 2>&1";
    CommandResult run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

size_t CountOf(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

std::string Md5Upper(const std::string& content) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(content.data(), content.size(), digest, &length, EVP_md5(), nullptr);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += kDigits[digest[i] >> 4];
        out += kDigits[digest[i] & 0xF];
    }
    return out;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

ServiceSandbox::ServiceSandbox() {
    char name[] = "/tmp/ov-svc-XXXXXX";
    EXPECT_NE(::mkdtemp(name), nullptr);
    m_dir = name;
    for (const char* folder : {"root/bin", "root/data", "root/logs", "c", "run"})
        fs::create_directories(m_dir / folder);
    m_env.push_back(
        std::make_unique<ovtest::ScopedEnv>("ORVANE_REGISTRY", (m_dir / "registry.db").string()));
    m_env.push_back(
        std::make_unique<ovtest::ScopedEnv>("ORVANE_RUNTIME_DIR", (m_dir / "run").string()));
    m_env.push_back(
        std::make_unique<ovtest::ScopedEnv>("ORVANE_EVENT_LOG", eventLogPath().string()));
    platform::resetRegistryConnection();
    using platform::RegRoot;
    EXPECT_EQ(platform::writeString(RegRoot::LocalMachine, names::kMountedDevicesKey,
                                    u"\\DosDevices\\C:", platform::toUtf16(watched().string())),
              0u);
    EXPECT_EQ(platform::writeString(RegRoot::LocalMachine, names::kProductKey, names::kValuePath,
                                    platform::toWindowsPath((root() / "bin").string())),
              0u);
    std::u16string initial = names::kDataRecordInitial;
    std::string record(names::kDataRecordBytes, '\0');
    std::memcpy(record.data(), initial.data(), initial.size() * 2);
    platform::RegKey data;
    EXPECT_EQ(platform::RegKey::create(RegRoot::LocalMachine, names::kDataKey, data), 0u);
    EXPECT_EQ(data.setValue(names::kValueData, platform::kRegBinary, record.data(),
                            static_cast<uint32_t>(record.size())),
              0u);
    setDebug(false);
    writeDatabase(std::string(kEicarMd5) + "\r\n");
    // The alert program: records the arguments it was given, one a line.
    const fs::path alert = root() / "bin" / "ovfilemsg";
    WriteText(alert, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " + Quote(alertPath().string()) + "\n");
    fs::permissions(alert, fs::perms::owner_all);
}

ServiceSandbox::~ServiceSandbox() {
    const uint32_t pid = servicePid();
    if (pid != 0) {
        ovsc({"stop", "Orvane Service"});
        const uint64_t start = platform::detail::processStartTime(pid);
        if (!WaitUntil([&] { return platform::detail::processStartTime(pid) != start; },
                       std::chrono::seconds(30))) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    }
    // A killed service leaves its shared memory's name behind.
    ::shm_unlink(platform::SharedMemory::objectName(u"OVProMappingObject").c_str());
    platform::resetRegistryConnection();
    m_env.clear();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

void ServiceSandbox::writeDatabase(const std::string& plain) {
    std::string stored;
    ASSERT_TRUE(names::scrambleDatabaseText(plain, stored, nullptr));
    WriteText(root() / "data" / "hashdb.dbf", stored);
}

void ServiceSandbox::setDebug(bool on) {
    EXPECT_EQ(platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey,
                                   names::kDebug, on ? 1 : 0),
              0u);
}

void ServiceSandbox::installService(const std::string& program) {
    platform::ServiceManager manager;
    ASSERT_EQ(platform::ServiceManager::open(platform::kScManagerAllAccess, manager), 0u);
    platform::ServiceDescription description;
    description.name = kService;
    description.binaryPath =
        platform::toWindowsPath(program.empty() ? std::string(OV_BIN_DIR) + "/ovrtsrv" : program);
    platform::Service service;
    ASSERT_EQ(manager.createService(description, platform::kServiceAllAccess, service), 0u);
}

CommandResult ServiceSandbox::ovsc(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{std::string(OV_BIN_DIR) + "/ovsc"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv);
}

std::string ServiceSandbox::log() const { return ReadText(logPath()); }

bool ServiceSandbox::waitForLog(const std::string& needle, size_t count) {
    return WaitUntil([&] { return CountOf(log(), needle) >= count; });
}

std::string ServiceSandbox::dataRecord() const {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, key) != 0)
        return {};
    std::string bytes(names::kDataRecordBytes, '\0');
    uint32_t size = static_cast<uint32_t>(bytes.size());
    uint32_t type = 0;
    if (key.queryValue(names::kValueData, &type, bytes.data(), &size) != 0) return {};
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    text.resize(std::min(text.find(u'\0'), text.size()));
    return platform::toUtf8(text);
}

uint32_t ServiceSandbox::servicePid() const {
    platform::ServiceManager manager;
    if (platform::ServiceManager::open(platform::kScManagerConnect, manager) != 0) return 0;
    platform::Service service;
    if (platform::Service::open(manager, kService, platform::kServiceQueryStatus, service) != 0)
        return 0;
    platform::ServiceStatusProcess status;
    if (service.queryStatus(status) != 0 || status.currentState == platform::kServiceStopped)
        return 0;
    return status.processId;
}

void ServiceSandbox::startService(const std::string& program) {
    installService(program);
    CommandResult run = ovsc({"start", "Orvane Service"});
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(waitForLog("FlipFile:  file OK...")) << log();
}

}  // namespace svctest
