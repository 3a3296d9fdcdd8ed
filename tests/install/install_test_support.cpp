#include "install/install_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace installtest {

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

Command Shell(const std::string& commandLine) {
    Command result;
    FILE* pipe = ::popen(("(" + commandLine + ") 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TempFolder::TempFolder() {
    std::string pattern = "/tmp/ov-install-XXXXXX";
    if (::mkdtemp(pattern.data())) m_path = pattern;
    EXPECT_FALSE(m_path.empty());
}

TempFolder::~TempFolder() {
    std::error_code ec;
    if (!m_path.empty()) fs::remove_all(m_path, ec);
}

void ExpectInstalledProgramsScan(const fs::path& root, const fs::path& scratch) {
    const std::string bin = (root / "bin").string();
    const std::string env = "env -u ORVANE_REGISTRY -u LD_LIBRARY_PATH ORVANE_RUNTIME_DIR=" +
                            Quote((scratch / "run").string()) + " ";
    fs::create_directories(scratch / "run");

    Command setup = Shell(env + Quote(bin + "/orvane-setup") + " --root " + Quote(root.string()));
    ASSERT_EQ(setup.status, 0) << setup.out;
    EXPECT_NE(setup.out.find("Programs: already in " + bin), std::string::npos) << setup.out;
    EXPECT_TRUE(fs::exists(root / "registry.db"));

    const fs::path sample = scratch / "sample" / "dropper.bin";
    fs::create_directories(sample.parent_path());
    {
        std::ofstream out(sample, std::ios::binary);
        out << "a sample of known malware made by the installation test\n";
    }
    Command db =
        Shell("md5sum " + Quote(sample.string()) + " | cut -c1-32 | " + env + Quote(bin + "/ovdb") +
              " build " + Quote((root / "data/hashdb.dbf").string()));
    ASSERT_EQ(db.status, 0) << db.out;

    Command scan = Shell(env + Quote(bin + "/orvane-scan") + " " + Quote(sample.string()));
    EXPECT_EQ(scan.status, 1) << scan.out;
    EXPECT_NE(scan.out.find("1 Infected Found."), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("Report: " + (root / "logs").string() + "/Orvane_"), std::string::npos)
        << scan.out;
}

}  // namespace installtest
