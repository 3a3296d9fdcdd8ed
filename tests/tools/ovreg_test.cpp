#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "tools/registry_tool_support.h"

namespace {

using regtool::runTool;

constexpr char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr char kDone[] = "The operation completed successfully.\n";
constexpr char kKey[] = "HKLM\\SOFTWARE\\Orvane\\Wardline";

class OvregTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        m_file = m_dir.path() + "/registry.db";
        setenv("ORVANE_REGISTRY", m_file.c_str(), 1);
        platform::resetRegistryConnection();
    }
    void TearDown() override {
        platform::resetRegistryConnection();
        unsetenv("ORVANE_REGISTRY");
    }
    regtool::TempFolder m_dir;
    std::string m_file;
};

TEST_F(OvregTest, CommandsPrintAsRegAndExitWithItsCodes) {
    struct Step {
        std::vector<std::string> args;
        std::string input;
        int exitCode;
        std::string out;
        std::string err;
    };
    const std::string k = kKey;
    const Step steps[] = {
        {{"query", k}, "", 1, "", kNotFound},
        {{"add", k, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "C:\\opt\\orvane\\bin"},
         "",
         0,
         kDone,
         ""},
        {{"add", k, "/v", "Version", "/d", "1.0.1.310"}, "", 0, kDone, ""},
        {{"add", k + "\\Settings", "/v", "SmartExt", "/t", "REG_DWORD", "/d", "1"},
         "",
         0,
         kDone,
         ""},
        {{"add", k + "\\Settings", "/v", "FeedBack", "/t", "16", "/d", "1358"}, "", 0, kDone, ""},
        {{"add", k + "\\data", "/v", "data", "/t", "REG_BINARY", "/d", "30007C00"},
         "",
         0,
         kDone,
         ""},
        {{"add", k + "\\data", "/ve", "/d", "default"}, "", 0, kDone, ""},
        {{"query", k},
         "",
         0,
         "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\n"
         "    Path    REG_EXPAND_SZ    C:\\opt\\orvane\\bin\n"
         "    Version    REG_SZ    1.0.1.310\n\n"
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\Settings\n"
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\data\n",
         ""},
        {{"query", "hkey_local_machine\\software\\orvane\\wardline\\settings", "/v", "smartext"},
         "",
         0,
         "\nHKEY_LOCAL_MACHINE\\software\\orvane\\wardline\\settings\n"
         "    SmartExt    REG_DWORD    0x1\n\n",
         ""},
        {{"query", k + "\\Settings"},
         "",
         0,
         "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\Settings\n"
         "    SmartExt    REG_DWORD    0x1\n"
         "    FeedBack    0x10    4E050000\n\n",
         ""},
        {{"query", k + "\\data"},
         "",
         0,
         "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\data\n"
         "    data    REG_BINARY    30007C00\n"
         "    (Default)    REG_SZ    default\n\n",
         ""},
        {{"query", k, "/v", "Missing"}, "", 1, "", kNotFound},
        // An existing value is overwritten only when the user agrees (or /f).
        {{"add", k + "\\Settings", "/v", "SmartExt", "/t", "REG_DWORD", "/d", "0"},
         "n\n",
         1,
         "Value SmartExt exists, overwrite(Yes/No)? The operation was cancelled by the user.\n",
         ""},
        {{"query", k + "\\Settings", "/v", "SmartExt"},
         "",
         0,
         "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\Settings\n"
         "    SmartExt    REG_DWORD    0x1\n\n",
         ""},
        {{"add", k + "\\Settings", "/v", "SmartExt", "/t", "REG_DWORD", "/d", "0x20", "/f"},
         "",
         0,
         kDone,
         ""},
        {{"query", k + "\\Settings", "/v", "SmartExt"},
         "",
         0,
         "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\Settings\n"
         "    SmartExt    REG_DWORD    0x20\n\n",
         ""},
        {{"add", k, "/v", "Bad", "/t", "REG_DWORD", "/d", "12z"},
         "",
         1,
         "",
         "ERROR: REG_DWORD data must be a number, decimal or 0x hexadecimal, that fits in 32 "
         "bits.\n"},
        {{"add", k, "/v", "Bad", "/t", "REG_BINARY", "/d", "ABC"},
         "",
         1,
         "",
         "ERROR: Binary data must be an even number of hexadecimal digits.\n"},
        {{"add", "HKXX\\x"}, "", 1, "", "ERROR: Invalid key name.\nType \"OVREG /?\" for usage.\n"},
        {{"frobnicate"},
         "",
         1,
         "",
         "ERROR: Invalid argument/option - 'frobnicate'.\nERROR: Invalid syntax.\n"
         "Type \"OVREG /?\" for usage.\n"},
        {{"query", k, "/q"},
         "",
         1,
         "",
         "ERROR: Invalid syntax.\nType \"OVREG QUERY /?\" for usage.\n"},
        {{"delete", k + "\\Settings", "/v", "FeedBack", "/f"}, "", 0, kDone, ""},
        {{"delete", k + "\\Settings", "/v", "FeedBack", "/f"}, "", 1, "", kNotFound},
        {{"delete", k + "\\data", "/va", "/f"}, "", 0, kDone, ""},
        {{"query", k + "\\data"},
         "",
         0,
         "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\data\n\n",
         ""},
        {{"delete", k},
         "no\n",
         1,
         "Permanently delete the registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline "
         "(Yes/No)? The operation was cancelled by the user.\n",
         ""},
        {{"delete", k},
         "y\n",
         0,
         "Permanently delete the registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline "
         "(Yes/No)? The operation completed successfully.\n",
         ""},
        {{"query", k + "\\Settings"}, "", 1, "", kNotFound},
        {{"delete", k, "/f"}, "", 1, "", kNotFound},
    };
    for (const auto& step : steps) {
        std::string line;
        for (const auto& a : step.args) line += a + " ";
        SCOPED_TRACE(line);
        auto run = runTool("ovreg", step.args, step.input);
        EXPECT_EQ(run.exitCode, step.exitCode);
        EXPECT_EQ(run.out, step.out);
        EXPECT_EQ(run.err, step.err);
    }
}

TEST_F(OvregTest, AddStoresWhatTheProgramsRead) {
    auto run =
        runTool("ovreg", {"add", kKey, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "C:\\\u00e9"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = runTool("ovreg",
                  {"add", kKey, "/v", "multi", "/t", "REG_MULTI_SZ", "/d", "a|b", "/s", "|"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    platform::RegKey key;
    ASSERT_EQ(
        platform::RegKey::open(platform::RegRoot::LocalMachine, u"SOFTWARE\\Orvane\\Wardline", key),
        0u);
    char raw[32];
    uint32_t type = 0, size = sizeof raw;
    ASSERT_EQ(key.queryValue(u"Path", &type, raw, &size), 0u);
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(std::string(raw, size), std::string("C\0:\0\\\0\xe9\0\0\0", 10));
    size = sizeof raw;
    ASSERT_EQ(key.queryValue(u"multi", &type, raw, &size), 0u);
    EXPECT_EQ(type, platform::kRegMultiSz);
    EXPECT_EQ(std::string(raw, size), std::string("a\0\0\0b\0\0\0\0\0", 10));
}

TEST_F(OvregTest, ExportWritesARegistryEditorFile) {
    ASSERT_EQ(platform::writeString(platform::RegRoot::LocalMachine, u"SOFTWARE\\Orvane\\Wardline",
                                    u"Version", u"1.0.1.310"),
              0u);
    ASSERT_EQ(platform::writeDword(platform::RegRoot::LocalMachine,
                                   u"SOFTWARE\\Orvane\\Wardline\\Settings", u"ScanMBR", 1),
              0u);
    std::string record(40, '\0');
    record[0] = '0';
    platform::RegKey data;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine,
                                       u"SOFTWARE\\Orvane\\Wardline\\data", data),
              0u);
    ASSERT_EQ(data.setValue(u"data", platform::kRegBinary, record.data(), 40), 0u);
    ASSERT_EQ(data.setValue(u"say \"hi\"", platform::kRegExpandSz, "%\0\0\0", 4), 0u);

    std::string file = m_dir.path() + "/out.reg";
    auto run = runTool("ovreg", {"export", "HKLM\\SOFTWARE\\Orvane\\Wardline", file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, kDone);

    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 2u);
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
    EXPECT_EQ(
        platform::toUtf8(text),
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline]\r\n"
        "\"Version\"=\"1.0.1.310\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\Settings]\r\n"
        "\"ScanMBR\"=dword:00000001\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Wardline\\data]\r\n"
        "\"data\"=hex:30,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\\\r\n"
        "  00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00\r\n"
        "\"say \\\"hi\\\"\"=hex(2):25,00,00,00\r\n\r\n");

    // An existing file is replaced only when the user agrees (or /y).
    auto fileBytes = [&] {
        std::ifstream again(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(again)),
                           std::istreambuf_iterator<char>());
    };
    run = runTool("ovreg", {"export", "HKLM\\SOFTWARE\\Orvane\\Wardline\\Settings", file}, "n\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(fileBytes(), bytes) << "a refused export left the file changed";
    run = runTool("ovreg", {"export", "HKLM\\SOFTWARE\\Orvane\\Wardline\\Settings", file, "/y"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string replaced = fileBytes();
    EXPECT_NE(replaced, bytes);
    EXPECT_EQ(replaced.substr(0, 2), "\xFF\xFE");
    run = runTool("ovreg", {"export", "HKLM\\SOFTWARE\\Nothing", file, "/y"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, kNotFound);
}

}  // namespace
