#include "tools/orvane-setup/system_install.h"

#include <cstdlib>
#include <iostream>

#include "platform/fs.h"
#include "platform/path.h"
#include "platform/privilege.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "tools/orvane-setup/service_install.h"
#include "tools/orvane-setup/system_entries.h"

namespace fs = std::filesystem;

namespace setup {

namespace {

int fail(const std::string& message) {
    std::cerr << "ERROR: " << message << "\n";
    return 1;
}

fs::path registryOf(const fs::path& root) {
    const char* own = std::getenv("ORVANE_REGISTRY");
    return own && *own ? fs::path(own) : root / "registry.db";
}

}  // namespace

bool checkAdministrator(const std::string& command, std::string& error) {
    if (platform::runningAsAdministrator()) return true;
    error = command + " changes the system and needs root: run it as 'sudo " + command + "'";
    return false;
}

int finishSystemInstall(const fs::path& root, const fs::path& registry) {
    std::string error;
    if (!restrictInstallModes(root, registry, error)) return fail(error);
    std::cout << "  Modes: " << (root / "bin").string()
              << " writable by root only; data, logs, jobs, infected and the registry readable "
                 "by root only\n";

    const auto entries = systemEntries(SystemFolders::fromEnvironment(), root / "bin");
    if (!writeSystemEntries(entries, error)) return fail(error);
    for (const auto& entry : entries) std::cout << "  Entry: " << entry.file.string() << "\n";

    std::string status;
    uint32_t rc = installService(root / "bin", status);
    if (rc != 0)
        return fail("cannot register the service " + platform::toUtf8(kServiceName) + " (error " +
                    std::to_string(rc) + ")");
    std::cout << "  Service: " << status << "\n";
    return 0;
}

int runUninstall(const fs::path& root, bool purge) {
    std::string error;
    std::error_code ec;
    const fs::path registry = registryOf(root);
    // Without a registry there is no service record to remove, and opening
    // the manager would create an empty registry.
    const bool hasRegistry = fs::exists(registry, ec);
    if (!checkAdministrator("orvane-setup --uninstall", error)) return fail(error);
    std::cout << "Orvane removed from " << root.string() << "\n";

    // Every step is tried even when one fails, so that a damaged installation
    // leaves as little behind as it can.
    int exitCode = 0;
    if (hasRegistry) {
        platform::setRegistryFilePath(registry.string());
        std::string status;
        uint32_t rc = removeService(status);
        if (rc != 0)
            exitCode = fail("cannot remove the service " + platform::toUtf8(kServiceName) +
                            " (error " + std::to_string(rc) + ")");
        else
            std::cout << "  Service: " << status << "\n";
    } else {
        std::cout << "  Service: no registry, nothing registered\n";
    }

    const auto entries = systemEntries(SystemFolders::fromEnvironment(), root / "bin");
    int removed = removeSystemEntries(entries, error);
    if (removed < 0)
        exitCode = fail(error);
    else
        std::cout << "  Entries: " << removed << " removed\n";

    if (!purge) {
        std::cout << "  Kept: quarantine, logs, jobs, hash database and registry in "
                  << root.string() << " (--purge removes them)\n";
        return exitCode;
    }
    platform::resetRegistryConnection();
    for (const char* name : {"data", "logs", "jobs", "infected"}) {
        const fs::path folder = root / name;
        if (!fs::exists(fs::symlink_status(folder, ec))) continue;
        uint32_t rc = platform::removeTree(platform::toWindowsPath(folder.string()));
        if (rc != 0)
            exitCode =
                fail("cannot remove " + folder.string() + " (error " + std::to_string(rc) + ")");
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        fs::path file = registry;
        file += suffix;
        fs::remove(file, ec);
        if (ec) exitCode = fail("cannot remove " + file.string() + ": " + ec.message());
    }
    if (exitCode == 0) std::cout << "  Purged: data, logs, jobs, infected and the registry\n";
    return exitCode;
}

}  // namespace setup
