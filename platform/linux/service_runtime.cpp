#include "platform/linux/service_runtime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/path.h"
#include "platform/text.h"

namespace platform::detail {

namespace {

std::string escapedName(std::u16string_view serviceName) {
    const std::string utf8 = toUtf8(toLower(serviceName));
    std::string out;
    for (unsigned char c : utf8) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

std::string serviceRuntimeBase(std::u16string_view serviceName) {
    std::string folder = runtimeFolderHost();
    if (folder.empty()) return {};
    return folder + "/service." + escapedName(serviceName);
}

bool readServiceRuntime(std::u16string_view serviceName, ServiceRuntimeRecord& out) {
    const std::string base = serviceRuntimeBase(serviceName);
    if (base.empty()) return false;
    int fd = ::open((base + ".status").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    ServiceRuntimeRecord record;
    ssize_t got = ::read(fd, &record, sizeof record);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof record) || record.magic != kServiceRuntimeMagic ||
        record.version != kServiceRuntimeVersion) {
        return false;
    }
    out = record;
    return true;
}

bool writeServiceRuntime(std::u16string_view serviceName, const ServiceRuntimeRecord& record) {
    const std::string base = serviceRuntimeBase(serviceName);
    if (base.empty()) return false;
    const std::string temporary = base + ".status." + std::to_string(::getpid()) + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ServiceRuntimeRecord copy = record;
    copy.magic = kServiceRuntimeMagic;
    copy.version = kServiceRuntimeVersion;
    bool ok = ::write(fd, &copy, sizeof copy) == static_cast<ssize_t>(sizeof copy);
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), (base + ".status").c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

uint64_t processStartTime(uint32_t pid) {
    if (pid == 0) return 0;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name is in parentheses and may hold anything; fields are
    // counted from the last ')'.
    size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    fields >> state;
    if (state.empty() || state == "Z" || state == "X") return 0;
    std::string skip;
    for (int field = 4; field <= 21; ++field) fields >> skip;  // ppid .. itrealvalue
    uint64_t start = 0;
    fields >> start;
    return start;
}

bool systemdRunning() {
    struct stat st {};
    return ::lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

std::string systemdUnitName(std::u16string_view serviceName) {
    std::string out;
    for (unsigned char c : toUtf8(toLower(serviceName))) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-')
            out += static_cast<char>(c);
        else if (c == ' ')
            out += '-';
        else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out + ".service";
}

}  // namespace platform::detail
