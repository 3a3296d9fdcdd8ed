// Finding a program in PATH, as the shell would, without running a shell.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/process.h"

namespace platform {

namespace {
bool isExecutableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}
}  // namespace

std::string findProgramInPath(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        // An empty entry stands for the current folder, as in the shell.
        std::string dir = end > start ? dirs.substr(start, end - start) : std::string(1, '.');
        std::string candidate = dir;
        candidate += '/';
        candidate += name;
        if (isExecutableFile(candidate)) {
            // Hand out an absolute path so a later change of the working
            // folder does not change which program runs.
            if (candidate[0] != '/') {
                char cwd[4096];
                if (getcwd(cwd, sizeof cwd)) {
                    std::string absolute(cwd);
                    absolute += '/';
                    absolute += candidate;
                    candidate = std::move(absolute);
                }
            }
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace platform
