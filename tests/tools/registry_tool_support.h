// Runs a built tool as a child process for the registry tool tests.
#pragma once
#include <string>
#include <vector>

namespace regtool {

struct ToolRun {
    int exitCode = -1;  // -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs OV_BIN_DIR/<tool> (or tool itself when it is an absolute path) with args, feeding input on
// its standard input; the child inherits this process's environment.
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

}  // namespace regtool
