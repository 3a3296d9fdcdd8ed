// Runs a built tool as a child process for the registry tool tests.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

namespace regtool {

struct ToolRun {
    int exitCode = -1;  // -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs OV_BIN_DIR/<tool> (or tool itself when it is an absolute path) with args, feeding input on
// its standard input; the child inherits this process's environment. Held to the default
// deadline of tooltest::runChild.
ToolRun runTool(const std::string& tool, const std::vector<std::string>& args,
                const std::string& input = {});

// A fresh folder under /tmp, removed with everything in it on destruction.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

// Sets an environment variable for the life of the object and puts the old
// value back.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvironmentValue() {
        if (m_had) {
            ::setenv(m_name, m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    EnvironmentValue(const EnvironmentValue&) = delete;
    EnvironmentValue& operator=(const EnvironmentValue&) = delete;

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

}  // namespace regtool
