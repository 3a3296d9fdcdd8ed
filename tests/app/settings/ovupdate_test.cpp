#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/hash_db_format.h"
#include "common/online_names.h"
#include "common/registry_names.h"
#include "https_server_support.h"
#include "platform/process.h"
#include "platform/registry.h"
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

    // Runs the program as the application would; its exit code.
    uint32_t runUpdater() {
        platform::resetRegistryConnection();
        platform::ChildProcess child;
        platform::SpawnOptions options;
        options.workingDirectory = (folder.path() / "bin").string();
        EXPECT_EQ(
            platform::ChildProcess::spawn({std::string(OV_BIN_DIR) + "/ovUpdate"}, options, child),
            0u);
        EXPECT_EQ(child.wait(120s), 0u);
        return child.exitCode();
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

}  // namespace
