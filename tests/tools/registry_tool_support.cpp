#include "tools/registry_tool_support.h"

#include <cstdlib>
#include <filesystem>

#include "tools/child_run_support.h"

namespace regtool {

ToolRun runTool(const std::string& tool, const std::vector<std::string>& args,
                const std::string& input) {
    tooltest::ChildResult child = tooltest::runChild({tool, args, input});
    return {child.exitCode, std::move(child.out), std::move(child.err)};
}

TempFolder::TempFolder() {
    char pattern[] = "/tmp/ovtool-test-XXXXXX";
    if (mkdtemp(pattern)) m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

}  // namespace regtool
