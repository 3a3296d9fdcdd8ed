// A private installation for the service's tests: <dir>/root (bin, data,
// logs; Path names bin), a watched folder <dir>/c that the drive map makes
// C:\ (the rest of the host is Z:), the registry, the runtime folder and
// the event log file in <dir>. A fake alert program in bin writes its
// arguments to <dir>/alert.txt. The service, when a test started it, is
// stopped (or killed) at the end.
#pragma once
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace svctest {

namespace fs = std::filesystem;

struct CommandResult {
    int status = -1;
    std::string out;
};

// Runs a command (argv, each word quoted for the shell), output captured.
CommandResult RunCommand(const std::vector<std::string>& argv);

bool WaitUntil(const std::function<bool()>& done,
               std::chrono::seconds limit = std::chrono::seconds(60));
size_t CountOf(const std::string& text, const std::string& needle);
std::string Md5Upper(const std::string& content);
std::string ReadText(const fs::path& path);
void WriteText(const fs::path& path, const std::string& content);

inline constexpr char kEicar[] =
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
inline constexpr char kEicarMd5[] = "44D88612FEA8A8F36DE82E1278ABB02F";

class ServiceSandbox {
public:
    ServiceSandbox();
    ~ServiceSandbox();
    ServiceSandbox(const ServiceSandbox&) = delete;
    ServiceSandbox& operator=(const ServiceSandbox&) = delete;

    const fs::path& dir() const { return m_dir; }
    fs::path root() const { return m_dir / "root"; }
    fs::path watched() const { return m_dir / "c"; }
    fs::path logPath() const { return root() / "logs" / "orvaneSVC.log"; }
    fs::path alertPath() const { return m_dir / "alert.txt"; }
    fs::path eventLogPath() const { return m_dir / "events.log"; }

    // The stored (scrambled) database holding this plain text.
    void writeDatabase(const std::string& plain);
    void setDebug(bool on);
    // The service record "Orvane Service" for the built ovrtsrv, or for
    // another program (host path) that runs it.
    void installService(const std::string& program = {});

    CommandResult ovsc(const std::vector<std::string>& arguments);
    std::string log() const;
    bool waitForLog(const std::string& needle, size_t count = 1);
    // The "data" record's text up to its first zero unit (UTF-8).
    std::string dataRecord() const;
    uint32_t servicePid() const;
    // Starts the service and waits until it watches and has its hash list.
    void startService(const std::string& program = {});

private:
    fs::path m_dir;
    std::vector<std::unique_ptr<ovtest::ScopedEnv>> m_env;
};

}  // namespace svctest
