// orvane-scan finds a file whose name the path translation would cut, beside
// a clean file named with the start of its name, named alone or walked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/text.h"
#include "tools/tools_test_support.h"

namespace {

using toolstest::RunTool;
using toolstest::TempInstall;
using toolstest::WindowsForm;

std::string Lowered(const std::filesystem::path& path) {
    return platform::toUtf8(platform::toLower(platform::toUtf16(WindowsForm(path))));
}

TEST(NeighbourNameScan, TheNamedFileIsFoundNotItsNeighbour) {
    if (::geteuid() != 0) GTEST_SKIP() << "the engine needs the privileges of root";
    struct Case {
        const char* infected;
        const char* neighbour;
    };
    const Case cases[] = {{"a~1.exe", "a"}, {"b\xc3\xa9.exe", "b"}};
    TempInstall install;
    std::string hashes;
    for (const Case& c : cases) {
        const auto bad = install.writeFile(std::string("files/") + c.infected,
                                           std::string("known bad ") + c.infected);
        install.writeFile(std::string("files/") + c.neighbour, "clean neighbour");
        hashes += toolstest::Md5Upper(bad) + "  bad\n";
    }
    const auto list = install.writeFile("hashes.txt", hashes);
    auto built = RunTool("ovdb", {"build", install.database().string(), list.string()});
    ASSERT_EQ(built.status, 0) << built.err;

    for (const Case& c : cases) {
        SCOPED_TRACE(c.infected);
        const auto bad = install.root() / "files" / c.infected;
        auto run = RunTool("orvane-scan", {"--file", bad.string()});
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.out.find("FOUND Malware: " + Lowered(bad) + "\n"), std::string::npos)
            << run.out;
    }
    auto walked = RunTool("orvane-scan", {"--folder", (install.root() / "files").string()});
    EXPECT_EQ(walked.status, 1) << walked.out << walked.err;
    for (const Case& c : cases) {
        EXPECT_NE(walked.out.find(
                      "FOUND Malware: " + Lowered(install.root() / "files" / c.infected) + "\n"),
                  std::string::npos)
            << walked.out;
    }
}

}  // namespace
