#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "common/hash_db_format.h"
#include "common/online_names.h"
#include "common/registry_names.h"
#include "common/update_caller.h"
#include "https_server_support.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "settings_test_support.h"
#include "tools/ovUpdate/update_checks.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::RegRoot;

std::string stored(const std::string& plain) {
    std::string out, error;
    EXPECT_TRUE(names::scrambleDatabaseText(plain, out, &error)) << error;
    return out;
}

const std::string kNewPlain =
    "44D88612FEA8A8F36DE82E1278ABB02F\r\n"
    "0123456789ABCDEF0123456789ABCDEF\r\n"
    "FEDCBA9876543210FEDCBA9876543210\r\n";
const std::string kOldPlain = "11111111111111111111111111111111\r\n";

TEST(Sha256File, DigestLinesAndWhatIsRefused) {
    const std::string digest(64, 'a');
    const struct {
        std::string text;
        bool ok;
    } cases[] = {
        {digest, true},
        {digest + "\n", true},
        {digest + "  hashdb.dbf\n", true},
        {std::string(64, 'F') + " *hashdb.dbf\r\n", true},
        {std::string(63, 'a'), false},
        {std::string(65, 'a'), false},
        {std::string(63, 'a') + "g", false},
        {digest + "\n" + digest + "\n", false},
        {"", false},
        {std::string(5000, 'a'), false},
    };
    for (const auto& c : cases) {
        std::string out, reason;
        EXPECT_EQ(ParseSha256File(c.text, out, reason), c.ok) << c.text.substr(0, 80);
        if (c.ok)
            EXPECT_EQ(out, std::string(64, c.text[0] == 'F' ? 'f' : 'a'));
        else
            EXPECT_FALSE(reason.empty());
    }
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(DatabaseBytes, OnlyADatabaseTheEngineCanRead) {
    size_t hashes = 0;
    std::string reason;
    EXPECT_TRUE(CheckDatabaseBytes(stored(kNewPlain), hashes, reason)) << reason;
    EXPECT_EQ(hashes, 3u);
    EXPECT_FALSE(CheckDatabaseBytes("", hashes, reason));
    EXPECT_FALSE(CheckDatabaseBytes(stored("no hashes in here\r\n"), hashes, reason));
    std::string withZero = stored(kNewPlain);
    withZero[10] = '\0';
    EXPECT_FALSE(CheckDatabaseBytes(withZero, hashes, reason));
    // A stored byte equal to the key unscrambles to zero.
    std::string withKey = stored(kNewPlain);
    withKey[40] = static_cast<char>(names::databaseKeyByte());
    EXPECT_FALSE(CheckDatabaseBytes(withKey, hashes, reason));
    // Lower-case digits are not the engine's hash text.
    EXPECT_FALSE(
        CheckDatabaseBytes(stored("44d88612fea8a8f36de82e1278abb02f\r\n"), hashes, reason));
}

class UpdaterTest : public SettingsRegistryTest {
protected:
    static void SetUpTestSuite() {
        // A proxy of the machine's environment must not stand between the
        // tests and their loopback server.
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        serverFolder = new TempFolder;
        server = new TestHttpsServer;
        if (!server->start(serverFolder->path())) skipReason = server->error();
    }
    static void TearDownTestSuite() {
        delete server;
        delete serverFolder;
    }
    void SetUp() override {
        SettingsRegistryTest::SetUp();
        if (!skipReason.empty()) GTEST_SKIP() << "no test HTTPS server: " << skipReason;
        server->clearRequests();
        fs::create_directories(folder.path() / "bin");
        fs::create_directories(folder.path() / "data");
        fs::create_directories(folder.path() / "logs");
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, names::kProductKey,
                                        names::kValuePath, folder.windows("bin")),
                  0u);
        writeDatabase(stored(kOldPlain));
    }
    void configure(const std::string& host) {
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, names::kOnlineKey,
                                        names::kOnlineHost, platform::toUtf16(host)),
                  0u);
        ASSERT_EQ(
            platform::writeString(RegRoot::LocalMachine, names::kOnlineKey, names::kOnlineCaFile,
                                  platform::toUtf16(server->caFile().string())),
            0u);
    }
    void writeDatabase(const std::string& bytes) {
        std::ofstream(folder.path() / "data" / "hashdb.dbf", std::ios::binary) << bytes;
    }
    std::string database() { return readBytes(folder.path() / "data" / "hashdb.dbf"); }
    std::string updateLog() { return readBytes(folder.path() / "logs" / "ovUpdate.log"); }

    // Starts the program in the program folder; callerEntry is the value of
    // the caller entry of its environment (none when empty).
    platform::ChildProcess startUpdater(const std::string& callerEntry = {}) {
        platform::resetRegistryConnection();
        platform::ChildProcess child;
        platform::SpawnOptions options;
        options.workingDirectory = (folder.path() / "bin").string();
        if (!callerEntry.empty())
            options.environment = {std::string(names::kUpdateCallerVariable) + "=" + callerEntry};
        EXPECT_EQ(
            platform::ChildProcess::spawn({std::string(OV_BIN_DIR) + "/ovUpdate"}, options, child),
            0u);
        return child;
    }
    // Runs the program to its end; its exit code.
    uint32_t runUpdater(const std::string& callerEntry = {}) {
        platform::ChildProcess child = startUpdater(callerEntry);
        EXPECT_EQ(child.wait(120s), 0u);
        return child.exitCode();
    }
    void serveGoodUpdate() {
        configure(server->host());
        const std::string fresh = stored(kNewPlain);
        server->serve("/def/hashdb.dbf", fresh);
        server->serve("/def/hashdb.sha256", Sha256Hex(fresh) + "\n");
    }
    void serveBadUpdate() {
        configure(server->host());
        server->serve("/def/hashdb.dbf", stored(kNewPlain));
        server->serve("/def/hashdb.sha256", Sha256Hex("other") + "\n");
    }

    static inline TempFolder* serverFolder = nullptr;
    static inline TestHttpsServer* server = nullptr;
    static inline std::string skipReason;
};

TEST_F(UpdaterTest, AGoodDownloadReplacesTheDatabaseAndKeepsTheOldOne) {
    configure(server->host());
    const std::string fresh = stored(kNewPlain);
    server->serve("/def/hashdb.dbf", fresh);
    server->serve("/def/hashdb.sha256", Sha256Hex(fresh) + "  hashdb.dbf\n");
    EXPECT_EQ(runUpdater(), 0u) << updateLog();
    EXPECT_EQ(database(), fresh);
    EXPECT_EQ(readBytes(folder.path() / "data" / "hashdb.dbf.bak"), stored(kOldPlain));
    EXPECT_FALSE(fs::exists(folder.path() / "data" / "hashdb.dbf.new"));
    const std::string log = updateLog();
    EXPECT_NE(log.find("Checked: SHA-256 " + Sha256Hex(fresh) + ", 3 hashes"), std::string::npos)
        << log;
    EXPECT_NE(log.find("was replaced"), std::string::npos) << log;
    const auto requests = server->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/def/hashdb.sha256");
    EXPECT_EQ(requests[1].path, "/def/hashdb.dbf");
    EXPECT_EQ(requests[1].userAgent, "Mozilla/4.0 (compatible)");
}

TEST_F(UpdaterTest, AFailedDownloadOrCheckLeavesTheDatabaseAndSaysWhy) {
    const std::string fresh = stored(kNewPlain);
    const std::string noHashes = stored("nothing to see\r\n");
    const struct {
        const char* name;
        bool up;
        std::string database;
        std::string checksum;
        const char* logged;
    } cases[] = {
        {"wrong checksum", true, fresh, Sha256Hex("other") + "\n", "Checksum mismatch: expected"},
        {"no checksum", true, fresh, "", "The checksum file is not usable"},
        {"not a database", true, noHashes, Sha256Hex(noHashes) + "\n",
         "not one the engine can read: the database holds no hash"},
        {"server down", false, fresh, Sha256Hex(fresh), "failed, Code: 12029"},
    };
    for (const auto& c : cases) {
        configure(c.up ? server->host() : "127.0.0.1:" + std::to_string(closedLoopbackPort()));
        server->serve("/def/hashdb.dbf", c.database);
        server->serve("/def/hashdb.sha256", c.checksum);
        EXPECT_EQ(runUpdater(), 1u) << c.name;
        EXPECT_EQ(database(), stored(kOldPlain)) << c.name;
        EXPECT_FALSE(fs::exists(folder.path() / "data" / "hashdb.dbf.bak")) << c.name;
        const std::string log = updateLog();
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.name << "\n" << log;
        EXPECT_NE(log.find("The hash database is left as it was."), std::string::npos) << c.name;
    }
}

std::string md5Upper(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(kHex[digest[i] >> 4]);
        out.push_back(kHex[digest[i] & 15]);
    }
    return out;
}

TEST_F(UpdaterTest, TheNextScanUsesTheNewDatabase) {
    if (::geteuid() != 0) GTEST_SKIP() << "the engine needs the privileges of root";
    const std::string content = "bytes that only the new database knows";
    const fs::path sample = folder.path() / "sample.bin";
    std::ofstream(sample, std::ios::binary) << content;
    const auto scan = [&] {
        platform::resetRegistryConnection();
        platform::ChildProcess child;
        EXPECT_EQ(
            platform::ChildProcess::spawn(
                {std::string(OV_BIN_DIR) + "/orvane-scan", "--quiet", sample.string()}, {}, child),
            0u);
        EXPECT_EQ(child.wait(120s), 0u);
        return child.exitCode();
    };
    ASSERT_EQ(scan(), 0u);  // clean for the old database
    configure(server->host());
    const std::string fresh = stored(md5Upper(content) + "\r\n" + kNewPlain);
    server->serve("/def/hashdb.dbf", fresh);
    server->serve("/def/hashdb.sha256", Sha256Hex(fresh) + "\n");
    ASSERT_EQ(runUpdater(), 0u) << updateLog();
    EXPECT_EQ(scan(), 1u);  // found
}

TEST_F(UpdaterTest, WithoutAHostNothingIsFetched) {
    EXPECT_EQ(runUpdater(), 1u);
    EXPECT_NE(updateLog().find("Online services are not configured"), std::string::npos);
    EXPECT_TRUE(server->requests().empty());
    EXPECT_EQ(database(), stored(kOldPlain));
}

// ---- Starting the application again.

bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// A process that stands for the application: it runs until it is killed.
struct StandInCaller {
    StandInCaller() {
        EXPECT_EQ(platform::ChildProcess::spawn({"/bin/sleep", "600"}, {}, process), 0u);
        pid = static_cast<uint32_t>(process.pid());
        startTime = platform::processStartTime(pid);
    }
    std::string entry() const { return names::formatUpdateCaller({pid, startTime}); }
    platform::ChildProcess process;
    uint32_t pid = 0;
    uint64_t startTime = 0;
};

class UpdaterRestartTest : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        if (IsSkipped()) return;
        // The application in the program folder is a script that notes each
        // start: its process id, its argument count, the caller entry it got
        // and its working folder.
        const fs::path program = folder.path() / "bin" / "Orvane";
        std::ofstream(program) << "#!/bin/sh\necho \"$$ $# ${ORVANE_UPDATE_CALLER:-none} $(pwd)\" "
                                  ">> '"
                               << ranFile().string() << "'\n";
        fs::permissions(program, fs::perms::owner_all);
    }
    fs::path ranFile() const { return folder.path() / "orvane-ran"; }
    std::string runs() const { return fs::exists(ranFile()) ? readBytes(ranFile()) : ""; }
    // The one start of the application the log tells of, once it has noted
    // itself: the same process, no arguments, no caller entry, run in the
    // program folder.
    void expectOneStart(const std::string& label) {
        const std::string log = updateLog();
        ASSERT_EQ(count(log, "The application was started again (pid "), 1u) << label << log;
        const size_t at = log.find("started again (pid ") + 19;
        const std::string pid = log.substr(at, log.find(')', at) - at);
        ASSERT_TRUE(waitUntil([&] { return !runs().empty(); })) << label << ": Orvane never ran";
        EXPECT_EQ(runs(), pid + " 0 none " + fs::canonical(folder.path() / "bin").string() + "\n")
            << label;
    }
};

TEST_F(UpdaterRestartTest, StartedByTheApplicationItStartsItOnceAfterTheUpdate) {
    const struct {
        const char* name;
        bool good;
        const char* outcome;
    } cases[] = {
        {"good update", true, "The update succeeded; starting the application again: "},
        {"failed update", false, "The update failed; starting the application again: "},
    };
    for (const auto& c : cases) {
        fs::remove(ranFile());
        fs::remove(folder.path() / "logs" / "ovUpdate.log");
        c.good ? serveGoodUpdate() : serveBadUpdate();
        std::string entry;
        {
            StandInCaller caller;  // ended before the updater looks
            entry = caller.entry();
        }
        EXPECT_EQ(runUpdater(entry), c.good ? 0u : 1u) << c.name;
        const std::string log = updateLog();
        EXPECT_NE(log.find(", which has already ended."), std::string::npos) << c.name << log;
        const size_t outcome = log.find(c.outcome);
        ASSERT_NE(outcome, std::string::npos) << c.name << log;
        // The application is started after the database step, not before.
        EXPECT_LT(log.find(c.good ? "was replaced" : "The hash database is left as it was."),
                  outcome)
            << c.name;
        expectOneStart(c.name);
    }
}

TEST_F(UpdaterRestartTest, StartedAtLogonItNeverStartsTheApplication) {
    const struct {
        const char* name;
        std::string entry;
        const char* logged;
    } cases[] = {
        {"no caller entry", "", "Not started by the application (as at logon)"},
        {"an entry the application does not write", "12;34",
         "is not one the application writes; the application is not started again."},
        {"a zero process id", "0:5", "is not one the application writes"},
        {"a line break in the entry", "1:2\r\n[forged] line",
         "The caller entry \"1:2??[forged] line\" is not one"},
    };
    for (const auto& c : cases) {
        fs::remove(folder.path() / "logs" / "ovUpdate.log");
        serveGoodUpdate();
        EXPECT_EQ(runUpdater(c.entry), 0u) << c.name;
        const std::string log = updateLog();
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.name << log;
        EXPECT_NE(log.find("was replaced"), std::string::npos) << c.name;
        EXPECT_EQ(log.find("starting the application again"), std::string::npos) << c.name;
        EXPECT_EQ(log.find("Waiting"), std::string::npos) << c.name;
        EXPECT_FALSE(fs::exists(ranFile())) << c.name;
    }
}

TEST_F(UpdaterRestartTest, ARunningApplicationDelaysTheUpdateAndTheRestart) {
    serveGoodUpdate();
    StandInCaller caller;
    platform::ChildProcess updater = startUpdater(caller.entry());
    const std::string waiting = "Started by the application (pid " + std::to_string(caller.pid) +
                                "); waiting for it to end.";
    ASSERT_TRUE(waitUntil([&] { return updateLog().find(waiting) != std::string::npos; }))
        << updateLog();
    // While the application runs nothing is fetched and nothing started.
    EXPECT_TRUE(updater.isRunning());
    EXPECT_TRUE(server->requests().empty());
    EXPECT_FALSE(fs::exists(ranFile()));
    caller.process.kill();
    ASSERT_EQ(updater.wait(120s), 0u);
    EXPECT_EQ(updater.exitCode(), 0u) << updateLog();
    const std::string log = updateLog();
    const size_t ended =
        log.find("The application (pid " + std::to_string(caller.pid) + ") has ended.");
    ASSERT_NE(ended, std::string::npos) << log;
    EXPECT_LT(ended, log.find("was replaced"));
    EXPECT_EQ(server->requests().size(), 2u);
    expectOneStart("after the wait");
}

TEST_F(UpdaterRestartTest, AnEntryNamingAnotherProcessDoesNotHoldTheRun) {
    // This test's own process is alive but started at another time than the
    // entry says: its id stands for a process that ended and an id reused.
    const uint32_t self = platform::currentProcessId();
    const std::string reused =
        names::formatUpdateCaller({self, platform::processStartTime(self) + 1});
    serveGoodUpdate();
    EXPECT_EQ(runUpdater(reused), 0u);
    const std::string log = updateLog();
    EXPECT_NE(log.find("Started by the application (pid " + std::to_string(self) +
                       "), which has already ended."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("waiting for it to end"), std::string::npos) << log;
    expectOneStart("reused id");
}

TEST(UpdateCaller, TheEntryNamesAProcessByIdAndStartTime) {
    const struct {
        const char* text;
        bool ok;
        uint32_t pid;
        uint64_t start;
    } cases[] = {
        {"4242:987654321", true, 4242, 987654321},
        {"1:1", true, 1, 1},
        {"4294967295:18446744073709551615", true, 4294967295u, 18446744073709551615ull},
        {"4294967296:1", false, 0, 0},  // past a process id
        {"0:1", false, 0, 0},
        {"1:0", false, 0, 0},
        {"", false, 0, 0},
        {"42", false, 0, 0},
        {"42:", false, 0, 0},
        {":42", false, 0, 0},
        {"+4:2", false, 0, 0},
        {"4: 2", false, 0, 0},
        {"4:2:1", false, 0, 0},
        {"4:2x", false, 0, 0},
    };
    for (const auto& c : cases) {
        names::UpdateCaller caller;
        EXPECT_EQ(names::parseUpdateCaller(c.text, caller), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(caller.processId, c.pid) << c.text;
        EXPECT_EQ(caller.startTime, c.start) << c.text;
        EXPECT_EQ(names::formatUpdateCaller(caller), c.text);
    }
}

// ---- The real-time service after an update.

struct ServiceIdentity {
    uint32_t state = 0;
    uint32_t pid = 0;
    uint64_t startTime = 0;
};

// "Orvane Service" as the stand-in that runs until it is stopped, under the
// built-in service manager with its records in the test's folders.
class UpdaterServiceTest : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        if (IsSkipped()) return;
#ifndef OV_STATE_SERVICE
        GTEST_SKIP() << "the stand-in service is not built";
#else
        if (::geteuid() != 0) GTEST_SKIP() << "the service manager needs the privileges of root";
        fs::create_directories(folder.path() / "run");
        setenv("ORVANE_RUNTIME_DIR", (folder.path() / "run").c_str(), 1);
        setenv("ORVANE_SYSTEMD_UNIT_PATH", "", 1);
        ASSERT_EQ(platform::ServiceManager::open(platform::kScManagerAllAccess, manager), 0u);
        platform::ServiceDescription description;
        description.name = u"Orvane Service";
        description.binaryPath = platform::toWindowsPath(OV_STATE_SERVICE);
        description.startType = platform::kServiceDemandStart;
        ASSERT_EQ(manager.createService(description, platform::kServiceAllAccess, service), 0u);
#endif
    }
    void TearDown() override {
        if (service.isOpen()) {
            platform::ServiceStatusProcess status;
            (void)service.control(platform::kServiceControlStop, status);
            (void)service.deleteService();
        }
        unsetenv("ORVANE_RUNTIME_DIR");
        unsetenv("ORVANE_SYSTEMD_UNIT_PATH");
        UpdaterTest::TearDown();
    }
    // The service's state once it has settled: a start returns when the
    // service took its control channel, before it reports running.
    ServiceIdentity settled() {
        ServiceIdentity now;
        (void)waitUntil([&] {
            now = identity();
            return now.state == platform::kServiceRunning || now.state == platform::kServiceStopped;
        });
        return now;
    }
    ServiceIdentity identity() {
        platform::ServiceStatusProcess status;
        EXPECT_EQ(service.queryStatus(status), 0u);
        return {status.currentState, status.processId,
                status.processId == 0 ? 0 : platform::processStartTime(status.processId)};
    }

    platform::ServiceManager manager;
    platform::Service service;
};

TEST_F(UpdaterServiceTest, ARunningServiceIsRestartedAfterAGoodUpdateOnly) {
    const struct {
        const char* name;
        bool running;
        bool good;
        bool restarted;
        const char* logged;
    } cases[] = {
        {"running, good update", true, true, true,
         "\"Orvane Service\" restarted with the new database."},
        {"stopped, good update", false, true, false,
         "\"Orvane Service\" is not running; it uses the new database when it starts."},
        {"running, failed update", true, false, false, "The hash database is left as it was."},
    };
    for (const auto& c : cases) {
        fs::remove(folder.path() / "logs" / "ovUpdate.log");
        if (c.running) {
            ASSERT_EQ(service.start({}), 0u) << c.name;
        }
        const ServiceIdentity before = settled();
        ASSERT_EQ(before.state, c.running ? platform::kServiceRunning : platform::kServiceStopped)
            << c.name;
        c.good ? serveGoodUpdate() : serveBadUpdate();
        EXPECT_EQ(runUpdater(), c.good ? 0u : 1u) << c.name;
        const std::string log = updateLog();
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.name << "\n" << log;
        const ServiceIdentity after = settled();
        EXPECT_EQ(after.state, c.running ? platform::kServiceRunning : platform::kServiceStopped)
            << c.name << "\n"
            << log;
        if (c.restarted) {
            // Another process: a new id, or the same id started anew.
            EXPECT_NE(after.startTime, 0u) << c.name;
            EXPECT_TRUE(after.pid != before.pid || after.startTime != before.startTime) << c.name;
            // The old process ends once its entry has returned.
            EXPECT_TRUE(waitUntil([&] {
                return platform::processStartTime(before.pid) != before.startTime;
            })) << c.name
                << ": the old service process still runs";
        } else {
            EXPECT_EQ(after.pid, before.pid) << c.name;
            EXPECT_EQ(after.startTime, before.startTime) << c.name;
            EXPECT_EQ(log.find("restarted"), std::string::npos) << c.name;
        }
        platform::ServiceStatusProcess status;
        if (after.state == platform::kServiceRunning) {
            ASSERT_EQ(service.control(platform::kServiceControlStop, status), 0u)
                << c.name << ": the service took no stop control\n"
                << log;
        }
    }
}

}  // namespace
