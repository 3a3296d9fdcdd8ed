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

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "Usage: orvane-setup [--root DIR]\n"
    "\n"
    "Sets up an Orvane installation in DIR (default: the parent of this program's\n"
    "folder): the folders bin, data, logs, jobs and infected, the program files in\n"
    "DIR/bin, the registry DIR/registry.db ($ORVANE_REGISTRY when set) with the\n"
    "product key and default settings, and a starter hash database. Existing\n"
    "values and files are kept.\n";

int fail(const std::string& message) {
    std::cerr << "ERROR: " << message << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string rootArg;
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
        } else {
            std::cerr << kUsage;
            return fail("unknown argument " + arg);
        }
    }

    std::error_code ec;
    const fs::path programFolder = platform::programFolderHost();
    fs::path root = rootArg.empty() ? fs::path(platform::installRootHost()) : fs::path(rootArg);
    root = fs::absolute(root, ec).lexically_normal();
    if (root.has_relative_path() && !root.has_filename()) root = root.parent_path();
    const fs::path bin = root / "bin";

    const std::u16string windowsBin = platform::toWindowsPath(bin.string());
    if (windowsBin.empty()) return fail("no drive holds " + bin.string());
    if (windowsBin.size() > setup::kMaxProgramFolderUnits)
        return fail("the program folder " + bin.string() + " is too long (" +
                    std::to_string(windowsBin.size()) + " characters; at most " +
                    std::to_string(setup::kMaxProgramFolderUnits) + ")");

    std::string error;
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
    return 0;
}
