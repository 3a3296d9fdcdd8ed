// Every command-line program against a registry file it cannot use: missing,
// not a database, a folder in its place, or a file nobody may change (the
// immutable attribute stops root as well). Each says so clearly and either
// runs on with defaults or stops with its failure code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tools/registry_tool_support.h"
#include "tools/tools_test_support.h"

namespace fs = std::filesystem;

namespace {

enum class Fault { Missing, Garbage, Folder, Immutable };

const char* FaultName(Fault f) {
    switch (f) {
        case Fault::Missing:
            return "missing";
        case Fault::Garbage:
            return "not a database";
        case Fault::Folder:
            return "a folder";
        case Fault::Immutable:
            return "immutable";
    }
    return "?";
}

struct Expectation {
    const char* program;
    std::vector<std::string> args;  // "@" stands for the test folder
    Fault fault;
    int exitCode;
    const char* stderrText;  // must appear on stderr
};

class RegistryFaults : public ::testing::Test {
protected:
    void TearDown() override {
        if (m_immutable) (void)std::system(("chattr -i '" + m_file + "'").c_str());
        platform::resetRegistryConnection();
    }

    // Prepares the registry file for a fault; false when the machine cannot.
    bool prepare(Fault fault) {
        if (m_immutable) (void)std::system(("chattr -i '" + m_file + "'").c_str());
        m_immutable = false;
        std::error_code ec;
        fs::remove_all(m_file, ec);
        fs::remove(m_file + "-wal", ec);
        fs::remove(m_file + "-shm", ec);
        switch (fault) {
            case Fault::Missing:
                break;
            case Fault::Garbage:
                std::ofstream(m_file) << std::string(8192, 'x');
                break;
            case Fault::Folder:
                fs::create_directory(m_file);
                break;
            case Fault::Immutable: {
                platform::resetRegistryConnection();
                if (platform::writeDword(platform::RegRoot::LocalMachine, u"SOFTWARE\\X", u"v", 1))
                    return false;
                platform::resetRegistryConnection();
                m_immutable = std::system(("chattr +i '" + m_file + "' 2>/dev/null").c_str()) == 0;
                return m_immutable;
            }
        }
        return true;
    }

    toolstest::TempInstall m_install;
    std::string m_file = (m_install.root() / "registry.db").string();
    bool m_immutable = false;
};

TEST_F(RegistryFaults, EachProgramSaysWhatIsWrong) {
    const std::string clean = m_install.writeFile("clean.exe", "nothing here").string();
    const Expectation table[] = {
        {"orvane-scan", {"--file", clean}, Fault::Garbage, 2, "cannot read the registry file"},
        {"orvane-scan", {"--file", clean}, Fault::Folder, 2, "cannot read the registry file"},
        {"orvane-scan",
         {"--file", clean},
         Fault::Missing,
         2,
         "does not exist; the default settings are used"},
        {"ovreg",
         {"query", "HKLM\\SOFTWARE\\X"},
         Fault::Garbage,
         1,
         "could not be opened or written"},
        {"ovreg",
         {"query", "HKLM\\SOFTWARE\\X"},
         Fault::Folder,
         1,
         "could not be opened or written"},
        {"ovreg",
         {"query", "HKLM\\SOFTWARE\\X"},
         Fault::Missing,
         1,
         "unable to find the specified registry key"},
        {"ovreg", {"query", "HKLM\\SOFTWARE\\X", "/v", "v"}, Fault::Immutable, 0, ""},
        {"ovreg",
         {"add", "HKLM\\SOFTWARE\\X", "/v", "w", "/t", "REG_DWORD", "/d", "2", "/f"},
         Fault::Immutable,
         1,
         "ERROR: "},
        {"orvane-setup", {"--root", "@/setup"}, Fault::Garbage, 1, "cannot write the registry"},
        {"orvane-setup", {"--root", "@/setup"}, Fault::Folder, 1, "cannot write the registry"},
        {"orvane-setup", {"--root", "@/setup"}, Fault::Immutable, 1, "cannot write the registry"},
        {"orvane-setup", {"--root", "@/setup"}, Fault::Missing, 0, ""},
    };
    std::string notStaged;
    for (const Expectation& e : table) {
        SCOPED_TRACE(std::string(e.program) + " with a registry file " + FaultName(e.fault));
        if (!prepare(e.fault)) {
            notStaged +=
                std::string(" ") + e.program + " with a registry file " + FaultName(e.fault) + ";";
            continue;
        }
        std::vector<std::string> args = e.args;
        for (std::string& a : args)
            if (a.rfind("@", 0) == 0) a = m_install.root().string() + a.substr(1);
        toolstest::Run run = toolstest::RunTool(e.program, args);
        EXPECT_EQ(run.status, e.exitCode) << run.out << run.err;
        EXPECT_NE(run.err.find(e.stderrText), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("database is locked"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("AddressSanitizer"), std::string::npos) << run.err;
    }
    if (!notStaged.empty())
        GTEST_SKIP() << "chattr +i is refused on this file system; not checked:" << notStaged;
}

}  // namespace
