// A stand-in for a program the tests start: it records how it was started
// (working folder, arguments, environment) in "<its own name>.ran" beside
// its executable, and ends. Copy it under the name of the program it
// stands for. The record is written to a temporary name and renamed, so a
// reader never sees half of it.
#include <unistd.h>

#include <cstdio>
#include <string>

extern char** environ;

namespace {

void put(std::string& record, const char* kind, const char* value) {
    record += kind;
    record += '=';
    record += value;
    record += '\0';
}

}  // namespace

int main(int argc, char** argv) {
    char exe[4096];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) return 2;
    exe[length] = '\0';
    const std::string path(exe);

    std::string record;
    char cwd[4096];
    put(record, "cwd", ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "");
    for (int i = 0; i < argc; ++i) put(record, "arg", argv[i]);
    for (char** entry = environ; *entry != nullptr; ++entry) put(record, "env", *entry);

    const std::string target = path + ".ran";
    const std::string temporary = target + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return 3;
    const bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
    if (std::fclose(file) != 0 || !written) return 4;
    return std::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : 5;
}
