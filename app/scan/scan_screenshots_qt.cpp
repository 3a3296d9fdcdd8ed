#include <stdlib.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/scan/custom_scan_dialog.h"
#include "app/scan/scan_panel_qt.h"
#include "app/scan/scan_sandbox_shot.h"
#include "app/shell/commands.h"
#include "app/shell/main_dialog.h"
#include "app/shell/scripted_prompts.h"
#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

constexpr char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr char kEicarMd5[] = "44D88612FEA8A8F36DE82E1278ABB02F";

void WriteFile(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

// Pumps events until done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void Pump(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
}

}  // namespace

bool RenderScanShots(MainDialog& main, const std::function<bool(QWidget&, const char*)>& save) {
    std::string pattern = (fs::temp_directory_path() / "ov_shots_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return false;
    const fs::path root = pattern;
    for (const char* folder : {"bin", "data", "logs", "temp"})
        fs::create_directories(root / folder);
    ::setenv("ORVANE_REGISTRY", (root / "registry.db").c_str(), 1);
    ::setenv("TMPDIR", (root / "temp").c_str(), 1);
    platform::resetRegistryConnection();
    (void)platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                names::kValuePath,
                                platform::toWindowsPath((root / "bin").string()));
    platform::RegKey settings;
    (void)platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey, settings);

    // A small tree with two findings among ordinary files.
    const fs::path tree = root / "Downloads";
    for (int i = 0; i < 30; ++i) {
        WriteFile(tree / ("notes-" + std::to_string(i) + ".txt"),
                  "ordinary text " + std::to_string(i));
        WriteFile(tree / "tools" / ("tool-" + std::to_string(i) + ".exe"),
                  "a tool " + std::to_string(i));
    }
    WriteFile(tree / "eicar.com", kEicar);
    WriteFile(tree / "tools" / "setup-eicar.exe", kEicar);
    std::string stored;
    if (!names::scrambleDatabaseText(std::string(kEicarMd5) + "\r\n", stored, nullptr))
        return false;
    std::ofstream(root / "data" / "hashdb.dbf", std::ios::binary | std::ios::trunc) << stored;

    ScriptedPrompts prompts;
    bool ok = true;
    {
        CustomScanDialog custom(&main);
        prompts.queuePath(platform::toUtf16(tree.string()));
        custom.onCommand(1056);
        ok = save(custom, "scan_custom_dialog") && ok;
    }

    // The scan is held at one of its objects while the picture is taken.
    ScanPanel* panel = ScanPanelOf(&main);
    std::atomic<int> ticks{0};
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    panel->progress().setMessageHook([&](uint32_t code) {
        if (code != SCANMSG_OBJECT_TICK || ++ticks != 40) return;
        held = true;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!release && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    prompts.queueDialogHandler([&](QDialog& dialog) {
        auto& custom = dynamic_cast<CustomScanDialog&>(dialog);
        prompts.queuePath(platform::toUtf16(tree.string()));
        custom.onCommand(1056);
        custom.onCommand(1026);
        return custom.result();
    });
    main.onCommand(cmd::kCustomScout, 0);
    main.onCommand(cmd::kScanButton, 0);
    PumpUntil([&] { return held || panel->finishedScans() > 0; }, std::chrono::seconds(60));
    Pump(std::chrono::milliseconds(1100));  // the figures and one second of scan time
    ok = save(main, "scan_running") && ok;
    release = true;
    ok = PumpUntil([&] { return panel->finishedScans() > 0; }, std::chrono::seconds(120)) && ok;
    panel->progress().setMessageHook({});

    std::error_code ignored;
    fs::remove_all(root, ignored);
    ::unsetenv("ORVANE_REGISTRY");
    platform::resetRegistryConnection();
    return ok;
}
