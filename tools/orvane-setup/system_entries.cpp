#include "tools/orvane-setup/system_entries.h"

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace setup {

namespace {

fs::path folderFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return fs::path(value && *value ? value : fallback);
}

// The application needs administrator rights for everything it does, so the
// menu starts it through pkexec; the polkit action below names the program
// and lets it open windows on the user's display.
// An Exec argument, quoted as desktop entries quote when it needs it.
std::string execArgument(const std::string& text) {
    if (text.find_first_of(" \t\"'\\`$;&|<>()*?#~=%") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += "\\\\";
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

std::string desktopEntry(const fs::path& programFolder) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=Orvane\n"
           "GenericName=Anti-malware\n"
           "Comment=Scan for malware, manage the quarantine and real-time protection\n"
           "Exec=pkexec " +
           execArgument((programFolder / "Orvane").string()) +
           "\n"
           "Icon=orvane\n"
           "Terminal=false\n"
           "Categories=System;Security;\n"
           "Keywords=antivirus;malware;scan;quarantine;\n";
}

std::string polkitAction(const fs::path& programFolder) {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE policyconfig PUBLIC\n"
               " \"-//freedesktop//DTD PolicyKit Policy Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/PolicyKit/1/policyconfig.dtd\">\n"
               "<policyconfig>\n"
               "  <vendor>Orvane</vendor>\n"
               "  <action id=\"") +
           kPolkitActionId +
           "\">\n"
           "    <description>Run the Orvane anti-malware application</description>\n"
           "    <message>Orvane needs administrator rights to scan and protect this "
           "computer</message>\n"
           "    <icon_name>orvane</icon_name>\n"
           "    <defaults>\n"
           "      <allow_any>auth_admin</allow_any>\n"
           "      <allow_inactive>auth_admin</allow_inactive>\n"
           "      <allow_active>auth_admin_keep</allow_active>\n"
           "    </defaults>\n"
           "    <annotate key=\"org.freedesktop.policykit.exec.path\">" +
           (programFolder / "Orvane").string() +
           "</annotate>\n"
           "    <annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true</annotate>\n"
           "  </action>\n"
           "</policyconfig>\n";
}

// The application's shield with its check mark, as the application draws it.
constexpr char kIconSvg[] =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
    "viewBox=\"0 0 256 256\">\n"
    "  <defs>\n"
    "    <linearGradient id=\"fill\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\">\n"
    "      <stop offset=\"0\" stop-color=\"#2fc4b2\"/>\n"
    "      <stop offset=\"1\" stop-color=\"#0b4f8a\"/>\n"
    "    </linearGradient>\n"
    "  </defs>\n"
    "  <path fill=\"url(#fill)\" stroke=\"#122b4a\" stroke-width=\"6.7\" "
    "d=\"M128,10.2 C175.3,31.4 209.7,36.1 235.5,38.5 C235.5,139.8 196.8,203.4 128,245.8 "
    "C59.2,203.4 20.5,139.8 20.5,38.5 C46.3,36.1 80.7,31.4 128,10.2 Z\"/>\n"
    "  <path fill=\"none\" stroke=\"#ffffff\" stroke-width=\"23.7\" stroke-linecap=\"round\" "
    "stroke-linejoin=\"round\" d=\"M80.7,128 L117.2,165.7 L179.6,90.3\"/>\n"
    "</svg>\n";

}  // namespace

SystemFolders SystemFolders::fromEnvironment() {
    SystemFolders folders;
    folders.applications =
        folderFromEnvironment("ORVANE_APPLICATIONS_DIR", "/usr/share/applications");
    folders.polkitActions =
        folderFromEnvironment("ORVANE_POLKIT_ACTIONS_DIR", "/usr/share/polkit-1/actions");
    folders.icons = folderFromEnvironment("ORVANE_ICONS_DIR", "/usr/share/icons/hicolor");
    return folders;
}

std::vector<SystemEntry> systemEntries(const SystemFolders& folders,
                                       const fs::path& programFolder) {
    return {
        {folders.applications / "orvane.desktop", desktopEntry(programFolder)},
        {folders.polkitActions / (std::string(kPolkitActionId) + ".policy"),
         polkitAction(programFolder)},
        {folders.icons / "scalable" / "apps" / "orvane.svg", kIconSvg},
    };
}

bool writeSystemEntries(const std::vector<SystemEntry>& entries, std::string& error) {
    std::error_code ec;
    for (const SystemEntry& entry : entries) {
        fs::create_directories(entry.file.parent_path(), ec);
        if (ec) {
            error = "cannot create " + entry.file.parent_path().string() + ": " + ec.message();
            return false;
        }
        fs::path temporary = entry.file;
        temporary += ".setup-tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << entry.content;
            out.close();
            if (!out) {
                fs::remove(temporary, ec);
                error = "cannot write " + temporary.string();
                return false;
            }
        }
        fs::permissions(temporary,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read,
                        ec);
        if (!ec) fs::rename(temporary, entry.file, ec);
        if (ec) {
            error = "cannot write " + entry.file.string() + ": " + ec.message();
            fs::remove(temporary, ec);
            return false;
        }
    }
    return true;
}

int removeSystemEntries(const std::vector<SystemEntry>& entries, std::string& error) {
    int removed = 0;
    for (const SystemEntry& entry : entries) {
        std::error_code ec;
        if (fs::remove(entry.file, ec)) ++removed;
        if (ec) {
            error = "cannot remove " + entry.file.string() + ": " + ec.message();
            return -1;
        }
    }
    return removed;
}

bool restrictInstallModes(const fs::path& root, const fs::path& registry, std::string& error) {
    using fs::perms;
    const perms ownerAll = perms::owner_all;
    const perms ownerOnly = perms::owner_read | perms::owner_write;
    const perms othersWrite = perms::group_write | perms::others_write;
    std::error_code ec;
    auto fail = [&](const fs::path& path) {
        error = "cannot set the mode of " + path.string() + ": " + ec.message();
        return false;
    };

    // Nobody but root may change what root runs.
    for (const fs::path& folder : {root, root / "bin"}) {
        fs::permissions(folder, othersWrite, fs::perm_options::remove | fs::perm_options::nofollow,
                        ec);
        if (ec) return fail(folder);
    }
    for (auto it = fs::recursive_directory_iterator(root / "bin", ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_symlink(ec)) continue;
        fs::permissions(it->path(), othersWrite, fs::perm_options::remove, ec);
        if (ec) return fail(it->path());
    }
    if (ec) return fail(root / "bin");

    // The quarantine holds live malware, the logs and jobs name the user's
    // files, the registry holds the settings: root's alone.
    for (const char* name : {"data", "logs", "jobs", "infected"}) {
        fs::permissions(root / name, ownerAll,
                        fs::perm_options::replace | fs::perm_options::nofollow, ec);
        if (ec) return fail(root / name);
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        fs::path file = registry;
        file += suffix;
        if (!fs::exists(fs::symlink_status(file, ec))) continue;
        fs::permissions(file, ownerOnly, fs::perm_options::replace | fs::perm_options::nofollow,
                        ec);
        if (ec) return fail(file);
    }
    return true;
}

}  // namespace setup
