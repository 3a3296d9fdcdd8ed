// Finding a program in PATH, as the shell would, without running a shell;
// and whether a program file is fit to be run by root.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/error.h"
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

namespace {
// Owned by root and writable by no one else.
bool rootOnlyWritable(const struct stat& st) {
    return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
}  // namespace

uint32_t checkTrustedProgram(const std::string& hostPath) {
    struct stat st {};
    if (hostPath.empty() || hostPath[0] != '/' || ::lstat(hostPath.c_str(), &st) != 0)
        return setLastError(kErrorFileNotFound), kErrorFileNotFound;
    // A link is judged by where it leads, and so is every folder on the way
    // there: anyone who could write one of them could swap the program.
    char resolved[PATH_MAX];
    if (::realpath(hostPath.c_str(), resolved) == nullptr)
        return setLastError(kErrorFileNotFound), kErrorFileNotFound;
    std::string path(resolved);
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !rootOnlyWritable(st) ||
        (st.st_mode & S_IXUSR) == 0)
        return setLastError(kErrorAccessDenied), kErrorAccessDenied;
    // The program's own folder is written by root alone; a folder further
    // up may be shared if it is sticky (as /tmp), where no one can move a
    // folder of root's.
    bool ownFolder = true;
    while (path.size() > 1) {
        size_t slash = path.find_last_of('/');
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0)
            return setLastError(kErrorAccessDenied), kErrorAccessDenied;
        const bool sharedButSticky = !ownFolder && (st.st_mode & S_ISVTX) != 0;
        if (!rootOnlyWritable(st) && !sharedButSticky)
            return setLastError(kErrorAccessDenied), kErrorAccessDenied;
        ownFolder = false;
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
