// orvane-setup [--root DIR]: makes DIR an Orvane installation. Without
// --root, DIR is the parent of this program's folder, so build/bin/orvane-setup
// turns build/ into an installation. Running it again keeps every existing
// value and file, and adds only what is missing.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/orvane-setup/setup_steps.h"
#include "tools/orvane-setup/system_entries.h"
#include "tools/orvane-setup/system_install.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "Usage: orvane-setup [--root DIR]\n"
    "       orvane-setup --system [--root DIR]\n"
    "       orvane-setup --uninstall [--purge] [--root DIR]\n"
    "\n"
    "Sets up an Orvane installation in DIR (default: the parent of this program's\n"
    "folder): the folders bin, data, logs, jobs and infected, the program files in\n"
    "DIR/bin, the registry DIR/registry.db ($ORVANE_REGISTRY when set) with the\n"
    "product key and default settings, and a starter hash database. Existing\n"
    "values and files are kept.\n"
    "\n"
    "--system (root) sets up DIR (default /opt/orvane) for every user: the data\n"
    "folders and the registry readable by root only, the menu entry, its polkit\n"
    "action and icon, and the real-time protection service.\n"
    "--uninstall (root) removes the service and the entries and keeps the\n"
    "quarantine, logs, jobs and registry; --purge removes those too.\n";

int fail(const std::string& message) {
    std::cerr << "ERROR: " << message << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string rootArg;
    bool system = false, uninstall = false, purge = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--root" && i + 1 < argc) {
            rootArg = argv[++i];
        } else if (arg.rfind("--root=", 0) == 0) {
            rootArg = arg.substr(7);
        } else if (arg == "--system" || arg == "--uninstall" || arg == "--purge") {
            (arg == "--system" ? system : arg == "--uninstall" ? uninstall : purge) = true;
        } else {
            std::cerr << kUsage;
            return fail("unknown argument " + arg);
        }
    }

    if ((system && uninstall) || (purge && !uninstall)) {
        std::cerr << kUsage;
        return fail(purge && !uninstall ? "--purge goes with --uninstall"
                                        : "--system and --uninstall exclude each other");
    }
    std::string error;
    if ((system || uninstall) && rootArg.empty()) rootArg = setup::kSystemRoot;
    if (uninstall) return setup::runUninstall(fs::path(rootArg).lexically_normal(), purge);

    std::error_code ec;
    const fs::path programFolder = platform::programFolderHost();
    fs::path root = rootArg.empty() ? fs::path(platform::installRootHost()) : fs::path(rootArg);
    root = fs::absolute(root, ec).lexically_normal();
    if (root.has_relative_path() && !root.has_filename()) root = root.parent_path();
    const fs::path bin = root / "bin";
    if (system && !setup::checkAdministrator("orvane-setup --system", error)) return fail(error);

    const std::u16string windowsBin = platform::toWindowsPath(bin.string());
    if (windowsBin.empty()) return fail("no drive holds " + bin.string());
    if (windowsBin.size() > setup::kMaxProgramFolderUnits)
        return fail("the program folder " + bin.string() + " is too long (" +
                    std::to_string(windowsBin.size()) + " characters; at most " +
                    std::to_string(setup::kMaxProgramFolderUnits) + ")");

    if (!setup::createFolders(root, error)) return fail(error);
    std::cout << "Orvane " << platform::toUtf8(names::kProductVersion) << " set up in "
              << root.string() << "\n";
    std::cout << "  Folders: bin, data, logs, jobs, infected\n";

    if (fs::equivalent(programFolder, bin, ec)) {
        std::cout << "  Programs: already in " << bin.string() << "\n";
    } else {
        int copied = setup::copyProgramFiles(programFolder, bin, error);
        if (copied < 0) return fail(error);
        std::cout << "  Programs: " << copied << " files copied from " << programFolder.string()
                  << " into " << bin.string() << "\n";
    }

    // The registry of this installation, unless the caller chose one.
    if (!std::getenv("ORVANE_REGISTRY"))
        platform::setRegistryFilePath((root / "registry.db").string());
    setup::RegistryCounts counts;
    uint32_t rc = setup::writeRegistry(windowsBin, counts);
    if (rc != 0)
        return fail("cannot write the registry " + platform::registryFilePath() + " (error " +
                    std::to_string(rc) + ")");
    std::cout << "  Registry: " << platform::registryFilePath() << " (" << counts.added
              << " values added, " << counts.kept << " kept)\n";
    std::cout << "  Program folder (Path): " << platform::toUtf8(windowsBin)
              << (counts.pathUpdated ? " (updated)" : "") << "\n";

    bool created = false;
    const fs::path database = root / "data" / "hashdb.dbf";
    if (!setup::installHashDatabase(database, created, error)) return fail(error);
    std::cout << "  Hash database: " << database.string()
              << (created ? " created with the EICAR test digest" : " kept") << "\n";
    if (system) return setup::finishSystemInstall(root, platform::registryFilePath());
    return 0;
}
