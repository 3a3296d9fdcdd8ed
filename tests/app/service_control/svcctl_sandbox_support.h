// A private installation for the service control tests: the registry with
// the product and Settings keys, the runtime folder, the event log, the
// systemd unit folder and the autostart folder, all in a temporary folder;
// a program folder (with a blank in its name) holding "ovrtsrv", the
// stand-in service, which is also the current directory. The service is
// stopped at the end.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace svcctltest {

namespace fs = std::filesystem;

class Sandbox {
public:
    Sandbox();
    ~Sandbox();

    fs::path dir() const { return m_folder.host(); }
    fs::path programFolder() const { return dir() / "program files"; }
    fs::path autostartFolder() const { return dir() / "autostart"; }
    fs::path eventLog() const { return dir() / "events.log"; }
    fs::path startupLog() const { return dir() / "OrvaneInit.log"; }

    // The record "Orvane Service" for the stand-in, on demand (no systemd).
    void installStandIn();
    // Starts it in a state ("running", "paused", ...); true when it runs.
    bool startStandIn(const std::u16string& state = u"running");
    uint32_t standInPid() const;
    // The service's current state; 0 when it cannot be queried.
    uint32_t currentState() const;
    void stopService();

    void setFlag(const char16_t* name, uint32_t value);
    // 0xFFFFFFFF when the value is missing.
    uint32_t flag(const char16_t* name) const;

    // The start-up log's text (UTF-16LE read back as UTF-8).
    std::string startupLogText() const;
    // True on a machine whose init is systemd: an automatic-start service
    // would become a unit of the machine, which a test must not make.
    static bool systemdIsInit();

private:
    ovtest::TempFolder m_folder;
    std::vector<std::unique_ptr<ovtest::ScopedEnv>> m_env;
    fs::path m_oldDirectory;
};

}  // namespace svcctltest
