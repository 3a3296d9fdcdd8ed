// systemd service units from their unit files: name, description, the
// program ExecStart runs, whether they start automatically.
#include "platform/linux/systemd_units.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

namespace platform::detail {

namespace {

constexpr std::string_view kServiceSuffix = ".service";

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool isListableName(std::string_view name) {
    if (!endsWith(name, kServiceSuffix) || name.size() == kServiceSuffix.size()) return false;
    // "x@.service" is a template; it runs only as an instance.
    return name[name.size() - kServiceSuffix.size() - 1] != '@';
}

std::string baseNameOf(std::string_view path) {
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// What a unit file's ExecStart= lines and Description= say.
struct UnitSettings {
    std::vector<std::string> execStart;
    std::string description;
};

void readUnitFile(const std::string& path, UnitSettings& settings) {
    std::ifstream in(path);
    if (!in) return;
    std::string section;
    std::string line;
    std::string logical;
    while (std::getline(in, line)) {
        // A backslash at the end of a line continues it on the next.
        if (!line.empty() && line.back() == '\\') {
            logical += line.substr(0, line.size() - 1);
            logical += ' ';
            continue;
        }
        logical += line;
        std::string_view text = trim(logical);
        if (!text.empty() && text.front() != '#' && text.front() != ';') {
            if (text.front() == '[' && text.back() == ']') {
                section.assign(text.substr(1, text.size() - 2));
            } else if (size_t eq = text.find('='); eq != std::string_view::npos) {
                std::string_view key = trim(text.substr(0, eq));
                std::string_view value = trim(text.substr(eq + 1));
                if (section == "Service" && key == "ExecStart") {
                    // An empty assignment clears what earlier files set.
                    if (value.empty()) {
                        settings.execStart.clear();
                    } else {
                        settings.execStart.emplace_back(value);
                    }
                } else if (section == "Unit" && key == "Description") {
                    settings.description.assign(value);
                }
            }
        }
        logical.clear();
    }
}

// The units that a *.wants or *.requires folder links: they start with the
// system.
std::set<std::string> linkedUnits(const std::vector<std::string>& folders) {
    std::set<std::string> linked;
    for (const std::string& folder : folders) {
        for (const std::string& sub : entriesOf(folder)) {
            if (!endsWith(sub, ".wants") && !endsWith(sub, ".requires")) continue;
            for (const std::string& name : entriesOf(folder + "/" + sub)) linked.insert(name);
        }
    }
    return linked;
}

bool isActive(const std::string& name) {
    struct stat st {};
    std::string marker = "/run/systemd/units/invocation:" + name;
    return ::lstat(marker.c_str(), &st) == 0;
}

// Reads one unit whose file is the first of that name in the folders.
bool readUnit(const std::vector<std::string>& folders, const std::set<std::string>& linked,
              const std::string& name, SystemdUnit& out) {
    std::string file;
    for (const std::string& folder : folders) {
        std::string candidate = folder + "/" + name;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) == 0) {
            file = candidate;
            break;
        }
    }
    if (file.empty()) return false;
    out = SystemdUnit{};
    out.name = name;
    char* resolved = ::realpath(file.c_str(), nullptr);
    std::string target = resolved != nullptr ? resolved : "";
    ::free(resolved);
    struct stat st {};
    if (target == "/dev/null" || (!target.empty() && ::stat(target.c_str(), &st) == 0 &&
                                  S_ISREG(st.st_mode) && st.st_size == 0)) {
        out.startType = 4;  // masked
        return true;
    }
    if (target.empty() || ::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // A link to a unit of another name is an alias of that unit, listed once
    // under its own name.
    if (baseNameOf(target) != name) return false;

    UnitSettings settings;
    readUnitFile(target, settings);
    // Drop-ins: <name>.d/*.conf of every folder, by file name; a file name
    // met in an earlier folder hides the same name in later ones.
    std::map<std::string, std::string> dropIns;
    for (const std::string& folder : folders) {
        std::string dir = folder + "/" + name + ".d";
        for (const std::string& conf : entriesOf(dir)) {
            if (endsWith(conf, ".conf")) dropIns.emplace(conf, dir + "/" + conf);
        }
    }
    for (const auto& [conf, path] : dropIns) readUnitFile(path, settings);

    out.description = settings.description;
    if (!settings.execStart.empty()) out.program = execStartProgram(settings.execStart.front());
    out.startType = linked.count(name) != 0 ? 2 : 3;
    out.active = isActive(name);
    return true;
}

}  // namespace

std::vector<std::string> systemdUnitFolders() {
    std::vector<std::string> folders;
    if (const char* env = std::getenv("ORVANE_SYSTEMD_UNIT_PATH")) {
        std::string_view rest = env;
        while (!rest.empty()) {
            size_t colon = rest.find(':');
            std::string_view part = rest.substr(0, colon);
            if (!part.empty()) folders.emplace_back(part);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
        return folders;
    }
    return {"/etc/systemd/system", "/run/systemd/system", "/usr/local/lib/systemd/system",
            "/lib/systemd/system", "/usr/lib/systemd/system"};
}

std::vector<SystemdUnit> listSystemdUnits() {
    const std::vector<std::string> folders = systemdUnitFolders();
    const std::set<std::string> linked = linkedUnits(folders);
    std::set<std::string> names;
    for (const std::string& folder : folders) {
        for (const std::string& name : entriesOf(folder)) {
            if (isListableName(name)) names.insert(name);
        }
    }
    std::vector<SystemdUnit> units;
    for (const std::string& name : names) {
        SystemdUnit unit;
        if (readUnit(folders, linked, name, unit)) units.push_back(std::move(unit));
    }
    return units;
}

bool findSystemdUnit(std::string_view name, SystemdUnit& out) {
    if (!isListableName(name) || name.find('/') != std::string_view::npos) return false;
    const std::vector<std::string> folders = systemdUnitFolders();
    return readUnit(folders, linkedUnits(folders), std::string(name), out);
}

std::string execStartProgram(std::string_view value) {
    value = trim(value);
    // Prefixes: @ (argv[0] follows), - (failure ignored), : (no
    // substitution), + ! !! (privileges).
    while (!value.empty() &&
           (value.front() == '@' || value.front() == '-' || value.front() == ':' ||
            value.front() == '+' || value.front() == '!')) {
        value.remove_prefix(1);
    }
    value = trim(value);
    if (value.empty()) return {};
    std::string program;
    if (value.front() == '"' || value.front() == '\'') {
        char quote = value.front();
        size_t end = value.find(quote, 1);
        program.assign(value.substr(1, end == std::string_view::npos ? value.size() - 1 : end - 1));
    } else {
        for (size_t i = 0; i < value.size(); ++i) {
            char c = value[i];
            if (c == ' ' || c == '\t') break;
            if (c == '\\' && i + 1 < value.size()) c = value[++i];
            program += c;
        }
    }
    if (program.empty()) return {};
    if (program.front() == '/') return program;
    if (program.find('/') != std::string::npos) return {};
    // A bare name runs from systemd's fixed search path.
    for (const char* folder :
         {"/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
        std::string candidate = std::string(folder) + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
    }
    return {};
}

}  // namespace platform::detail
