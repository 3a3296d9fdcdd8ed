#include <gtest/gtest.h>

#include "tools/tools_test_support.h"

using toolstest::ReadFile;
using toolstest::RunTool;
using toolstest::TempInstall;

namespace {
constexpr char kEicar[] = "44D88612FEA8A8F36DE82E1278ABB02F";
constexpr char kEmpty[] = "D41D8CD98F00B204E9800998ECF8427E";
constexpr char kOther[] = "0123456789ABCDEF0123456789ABCDEF";

std::string Unscrambled(const std::string& stored) {
    std::string plain = stored;
    for (char& c : plain) c = static_cast<char>(static_cast<unsigned char>(c) ^ 0xD0);
    return plain;
}
}  // namespace

TEST(Ovdb, BuildReadsEveryListFormAndReportsBadLines) {
    TempInstall install;
    auto list = install.writeFile("lists/mixed.txt",
                                  "# known bad\n"
                                  "44d88612fea8a8f36de82e1278abb02f  eicar.com\n"
                                  "d41d8cd98f00b204e9800998ecf8427e:0:Empty.File\r\n"
                                  "\n"
                                  "not a hash at all\n"
                                  "MD5 (x.bin) = 0123456789abcdef0123456789ABCDEF\n"
                                  "\\44D88612FEA8A8F36DE82E1278ABB02F  dup\\nname\n"
                                  "ABCDEF\n");
    auto db = install.root() / "out.dbf";
    auto run = RunTool("ovdb", {"build", db.string(), list.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("mixed.txt:5:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("mixed.txt:8:"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("3 hashes written (1 duplicates dropped, 2 bad lines skipped)"),
              std::string::npos)
        << run.out;
    const std::string expected = std::string(kEicar) + "\r\n" + kEmpty + "\r\n" + kOther + "\r\n";
    const std::string stored = ReadFile(db);
    EXPECT_EQ(Unscrambled(stored), expected);
    EXPECT_EQ(stored.find('\0'), std::string::npos);

    auto dump = RunTool("ovdb", {"dump", db.string()});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.out, expected);
}

TEST(Ovdb, BuildFromStandardInput) {
    TempInstall install;
    auto db = install.root() / "stdin.dbf";
    auto run = RunTool("ovdb", {"build", db.string()}, std::string(kEmpty) + "\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Unscrambled(ReadFile(db)), std::string(kEmpty) + "\r\n");
}

TEST(Ovdb, CheckAddAndStats) {
    TempInstall install;
    auto db = install.database();
    ASSERT_EQ(RunTool("ovdb", {"build", db.string()}, std::string(kEicar) + "\n").status, 0);
    auto bad = install.writeFile("bad.bin", "some malware bytes");
    const std::string badHash = toolstest::Md5Upper(bad);

    struct Case {
        std::string query;
        int status;
    };
    const Case before[] = {
        {kEicar, 0}, {"44d88612fea8a8f36de82e1278abb02f", 0},  // normalised like a list entry
        {kEmpty, 1}, {bad.string(), 1},
        {"xyz", 2},
    };
    for (const Case& c : before)
        EXPECT_EQ(RunTool("ovdb", {"check", db.string(), c.query}).status, c.status) << c.query;

    auto add = RunTool("ovdb", {"add", db.string(), bad.string()});
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_NE(add.out.find(badHash), std::string::npos);
    EXPECT_EQ(RunTool("ovdb", {"check", db.string(), bad.string()}).status, 0);
    auto again = RunTool("ovdb", {"add", db.string(), bad.string()});
    EXPECT_NE(again.out.find("already listed"), std::string::npos);
    EXPECT_EQ(Unscrambled(ReadFile(db)), std::string(kEicar) + "\r\n" + badHash + "\r\n");

    auto stats = RunTool("ovdb", {"stats", db.string()});
    EXPECT_EQ(stats.status, 0);
    EXPECT_NE(stats.out.find("entries: 2\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("key byte: 0xD0"), std::string::npos);
}

TEST(Ovdb, RefusesToChangeADatabaseCutByAZeroByte) {
    TempInstall install;
    auto db = install.database();
    ASSERT_EQ(RunTool("ovdb", {"build", db.string()}, std::string(kEicar) + "\n").status, 0);
    std::string stored = ReadFile(db);
    stored.insert(10, 1, '\0');
    install.writeFile("data/hashdb.dbf", stored);
    auto file = install.writeFile("x.bin", "x");
    auto add = RunTool("ovdb", {"add", db.string(), file.string()});
    EXPECT_EQ(add.status, 2);
    EXPECT_NE(add.err.find("zero byte at offset 10"), std::string::npos) << add.err;
    EXPECT_EQ(ReadFile(db), stored);  // untouched
    auto stats = RunTool("ovdb", {"stats", db.string()});
    EXPECT_NE(stats.out.find("warning: a zero byte at offset 10"), std::string::npos);
    // The scanner's meaning: the entry cut by the zero is not listed.
    EXPECT_EQ(RunTool("ovdb", {"check", db.string(), kEicar}).status, 1);
}

TEST(Ovdb, UsageAndErrors) {
    EXPECT_EQ(RunTool("ovdb", {}).status, 2);
    auto help = RunTool("ovdb", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("ovdb build OUT [LIST...]"), std::string::npos);
    EXPECT_EQ(RunTool("ovdb", {"frobnicate"}).status, 2);
    EXPECT_EQ(RunTool("ovdb", {"dump", "/nonexistent/db.dbf"}).status, 2);
    EXPECT_EQ(RunTool("ovdb", {"build", "/nonexistent/folder/out.dbf"}, "").status, 2);
}
