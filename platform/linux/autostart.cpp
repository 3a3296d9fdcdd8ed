// Reflection of the machine's Run key into XDG autostart entries.
#include "platform/linux/autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/eventlog.h"
#include "platform/path.h"
#include "platform/text.h"

namespace platform::detail {

namespace {

constexpr std::u16string_view kRunKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::u16string_view kRunKey32 =
    u"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kMarker[] = "X-Orvane-RunValue=";

bool isRunKey(RegRoot root, std::u16string_view keyPath) {
    return root == RegRoot::LocalMachine &&
           (equalsIgnoreCase(keyPath, kRunKey) || equalsIgnoreCase(keyPath, kRunKey32));
}

void report(std::u16string_view name, const std::string& what, int err) {
    std::string text = what;
    if (err != 0) text += std::string(": ") + std::strerror(err);
    (void)reportEvent(u"Orvane", kEventLogWarning, 0, 0,
                      {u"Run value " + std::u16string(name), toUtf16(text)});
}

// Opens the folder itself, never through a link.
int openFolder(const std::string& folder) {
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool fileExists(const std::string& host) {
    struct stat st {};
    return !host.empty() && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The host program for a Windows-form name, also without its ".exe".
std::string programHost(std::u16string_view program) {
    std::string host = toHostPath(program);
    if (fileExists(host)) return host;
    if (program.size() > 4 && equalsIgnoreCase(program.substr(program.size() - 4), u".exe")) {
        std::string bare = toHostPath(program.substr(0, program.size() - 4));
        if (fileExists(bare)) return bare;
    }
    return {};
}

// Text of a REG_SZ / REG_EXPAND_SZ value up to its terminator.
std::u16string valueText(std::string_view data) {
    std::u16string text(data.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
    size_t end = text.find(u'\0');
    if (end != std::u16string::npos) text.resize(end);
    return text;
}

void appendEscaped(std::string& out, std::string_view word) {
    // Quoted as an Exec argument, then escaped as a desktop entry string
    // (where a backslash is written twice).
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    for (char c : quoted) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '%') {
            out += "%%";
        } else {
            out += c;
        }
    }
}

bool hasControl(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

}  // namespace

std::string autostartFolder() {
    const char* own = std::getenv("ORVANE_AUTOSTART_DIR");
    if (own != nullptr && own[0] != '\0') return own;
    const char* registry = std::getenv("ORVANE_REGISTRY");
    if (registry != nullptr && registry[0] != '\0') return {};
    return "/etc/xdg/autostart";
}

std::string autostartFileName(std::u16string_view valueName) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = "orvane-run-";
    for (char16_t unit : valueName) {
        if ((unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9')) {
            name += static_cast<char>(unit);
        } else if (unit >= u'A' && unit <= u'Z') {
            name += static_cast<char>(unit - u'A' + u'a');
        } else {
            name += '_';
            for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(unit >> shift) & 0xF];
        }
    }
    return name + ".desktop";
}

std::vector<std::string> runCommandArguments(std::u16string_view commandLine) {
    std::u16string text(commandLine);
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.erase(0, 1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.pop_back();
    if (text.empty()) return {};
    std::string program;
    std::u16string rest;
    if (text.front() == u'"') {
        size_t close = text.find(u'"', 1);
        if (close == std::u16string::npos) return {};
        program = programHost(text.substr(1, close - 1));
        rest = text.substr(close + 1);
    } else {
        // A path with blanks may stand unquoted, as Windows finds it.
        size_t end = text.size();
        for (;;) {
            program = programHost(std::u16string_view(text).substr(0, end));
            if (!program.empty()) {
                rest = text.substr(end);
                break;
            }
            if (end == 0) break;
            size_t blank = text.rfind(u' ', end - 1);
            if (blank == std::u16string::npos || blank == 0) break;
            end = blank;
        }
        if (program.empty()) {
            size_t blank = text.find(u' ');
            program = toHostPath(std::u16string_view(text).substr(0, blank));
            rest = blank == std::u16string::npos ? u"" : text.substr(blank);
        }
    }
    if (program.empty()) return {};
    std::vector<std::string> argv{program};
    std::string current;
    bool quoted = false;
    bool any = false;
    for (char c : toUtf8(rest)) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) argv.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) argv.push_back(current);
    return argv;
}

bool autostartEntryText(std::u16string_view valueName, const std::vector<std::string>& argv,
                        std::string& out) {
    const std::string name = toUtf8(valueName);
    if (argv.empty() || hasControl(name)) return false;
    std::string exec;
    for (const std::string& word : argv) {
        if (hasControl(word)) return false;
        if (!exec.empty()) exec += ' ';
        appendEscaped(exec, word);
    }
    std::string escapedName;
    for (char c : name) escapedName += c == '\\' ? std::string("\\\\") : std::string(1, c);
    out = "[Desktop Entry]\nType=Application\nName=" + escapedName + "\nExec=" + exec +
          "\nNoDisplay=true\nTerminal=false\n" + kMarker + escapedName + "\n";
    return true;
}

void reflectRunValueWritten(RegRoot root, std::u16string_view keyPath, std::u16string_view name,
                            uint32_t type, std::string_view data) {
    if (!isRunKey(root, keyPath)) return;
    const std::string folder = autostartFolder();
    if (folder.empty()) return;
    if (type != kRegSz && type != kRegExpandSz) {
        report(name, "not a text value; no autostart entry", 0);
        return;
    }
    std::string entry;
    const std::vector<std::string> argv = runCommandArguments(valueText(data));
    if (!autostartEntryText(name, argv, entry)) {
        report(name, "the command line names no program an autostart entry can start", 0);
        return;
    }
    const int dir = openFolder(folder);
    if (dir < 0) {
        report(name, "autostart folder " + folder + " cannot be opened", errno);
        return;
    }
    const std::string file = autostartFileName(name);
    const std::string temporary = "." + file + "." + std::to_string(::getpid()) + ".tmp";
    ::unlinkat(dir, temporary.c_str(), 0);
    const int fd = ::openat(dir, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        report(name, "autostart folder " + folder + " is not writable", errno);
        ::close(dir);
        return;
    }
    bool written = ::fchmod(fd, 0644) == 0;
    size_t done = 0;
    while (written && done < entry.size()) {
        ssize_t n = ::write(fd, entry.data() + done, entry.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            written = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    int err = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    // The rename replaces a link planted under the entry's name, never
    // what it points to.
    if (written && ::renameat(dir, temporary.c_str(), dir, file.c_str()) != 0) {
        written = false;
        err = errno;
    }
    if (!written) {
        ::unlinkat(dir, temporary.c_str(), 0);
        report(name, "autostart entry " + folder + "/" + file + " cannot be written", err);
    }
    ::close(dir);
}

void reflectRunValueDeleted(RegRoot root, std::u16string_view keyPath, std::u16string_view name) {
    if (!isRunKey(root, keyPath)) return;
    const std::string folder = autostartFolder();
    if (folder.empty()) return;
    const int dir = openFolder(folder);
    if (dir < 0) return;
    const std::string file = autostartFileName(name);
    // Only an entry of ours goes: a regular file that carries the marker.
    const int fd = ::openat(dir, file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        ::close(dir);
        return;
    }
    struct stat st {};
    bool ours = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < 65536) {
        std::string text(static_cast<size_t>(st.st_size), '\0');
        ssize_t n = ::read(fd, text.data(), text.size());
        ours = n > 0 && text.find(kMarker) != std::string::npos;
    }
    ::close(fd);
    if (ours && ::unlinkat(dir, file.c_str(), 0) != 0) {
        report(name, "autostart entry " + folder + "/" + file + " cannot be removed", errno);
    }
    ::close(dir);
}

std::vector<std::u16string> runValuesBelow(RegRoot root, std::u16string_view keyPath) {
    std::vector<std::u16string> names;
    if (root != RegRoot::LocalMachine || autostartFolder().empty()) return names;
    bool above = false;
    for (std::u16string_view run : {kRunKey, kRunKey32}) {
        if (keyPath.size() <= run.size() &&
            equalsIgnoreCase(run.substr(0, keyPath.size()), keyPath) &&
            (keyPath.size() == run.size() || run[keyPath.size()] == u'\\')) {
            above = true;
        }
    }
    if (!above) return names;
    for (std::u16string_view run : {kRunKey, kRunKey32}) {
        RegKey key;
        if (RegKey::open(root, run, key) != 0) continue;
        for (uint32_t index = 0;; ++index) {
            char16_t name[16384];
            uint32_t length = sizeof(name) / sizeof(name[0]);
            if (key.enumValue(index, name, &length, nullptr, nullptr, nullptr) != 0) break;
            names.emplace_back(name, length);
        }
    }
    return names;
}

void reflectRunValuesDeleted(RegRoot root, const std::vector<std::u16string>& names) {
    for (const std::u16string& name : names) reflectRunValueDeleted(root, kRunKey, name);
}

}  // namespace platform::detail
