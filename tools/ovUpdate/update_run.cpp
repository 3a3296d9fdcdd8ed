#include "tools/ovUpdate/update_run.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

#include "common/hash_db_format.h"
#include "common/online_names.h"
#include "common/registry_names.h"
#include "common/update_caller.h"
#include "platform/detached_process.h"
#include "platform/file_replace.h"
#include "platform/fs.h"
#include "platform/http.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "tools/ovUpdate/update_checks.h"

namespace {

constexpr char16_t kRealTimeService[] = u"Orvane Service";
constexpr uint32_t kErrorServiceNotActive = 1062;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;

// Stops a running real-time service and starts it again; says what it did.
std::string restartService() {
    platform::ServiceManager manager;
    platform::Service service;
    if (platform::ServiceManager::open(platform::kScManagerAllAccess, manager) != 0)
        return "The service manager could not be opened; restart \"Orvane Service\" to use the "
               "new database in real time.";
    const uint32_t opened =
        platform::Service::open(manager, kRealTimeService, platform::kServiceAllAccess, service);
    if (opened == kErrorServiceDoesNotExist)
        return "\"Orvane Service\" is not installed; the next scan uses the new database.";
    if (opened != 0)
        return "\"Orvane Service\" could not be opened (error " + std::to_string(opened) +
               "); restart it to use the new database in real time.";
    // The process that runs the service now: the new one is started only
    // once it is gone. A service reports stopped before its process has
    // wound down, and the old process's last tidy-up (its control channel)
    // must not meet the new one's start.
    platform::ServiceStatusProcess state;
    uint32_t oldProcess = 0;
    uint64_t oldStart = 0;
    if (service.queryStatus(state) == 0 && state.processId != 0) {
        oldProcess = state.processId;
        oldStart = platform::processStartTime(oldProcess);
    }
    const uint32_t stopped = service.control(platform::kServiceControlStop, state);
    if (stopped == kErrorServiceNotActive)
        return "\"Orvane Service\" is not running; it uses the new database when it starts.";
    if (stopped != 0)
        return "\"Orvane Service\" could not be stopped (error " + std::to_string(stopped) +
               "); restart it to use the new database in real time.";
    for (int i = 0; i < 100 && state.currentState != platform::kServiceStopped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (service.queryStatus(state) != 0) break;
    }
    for (int i = 0; i < 200 && oldStart != 0 && platform::processStartTime(oldProcess) == oldStart;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const uint32_t started = service.start({});
    if (started != 0)
        return "\"Orvane Service\" was stopped but did not start again (error " +
               std::to_string(started) + "); start it with: ovsc start \"Orvane Service\"";
    return "\"Orvane Service\" restarted with the new database.";
}

class UpdateLog {
public:
    UpdateLog(const std::u16string& programFolder, std::function<void(const std::string&)> show)
        : m_show(std::move(show)) {
        const std::u16string logs =
            platform::joinPath(platform::parentPath(programFolder), u"logs");
        (void)platform::createDirectory(logs);
        m_file.open(platform::toHostPath(platform::joinPath(logs, u"ovUpdate.log")),
                    std::ios::app | std::ios::binary);
    }
    // A line for the log and the terminal.
    void line(const std::string& text) {
        const std::time_t now =
            std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        std::tm utc{};
        gmtime_r(&now, &utc);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
        if (m_file) m_file << "[" << stamp << "] " << text << "\r\n" << std::flush;
        if (m_show) m_show((m_afterProgress ? "\n" : "") + text + "\n");
        m_afterProgress = false;
    }
    void progress(const std::string& text) {
        if (m_show) m_show(text + "\r");
        m_afterProgress = true;
    }

private:
    bool m_afterProgress = false;
    std::ofstream m_file;
    std::function<void(const std::string&)> m_show;
};

std::u16string readOnline(const char16_t* name) {
    std::u16string value;
    if (platform::readString(platform::RegRoot::LocalMachine, names::kOnlineKey, name, value) !=
        0) {
        return {};
    }
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    return value;
}

// Fetches one file; false with the reason logged.
bool fetch(platform::HttpsClient& client, const std::string& url, const std::string& caFile,
           size_t limit, bool showProgress, UpdateLog& log, std::string& body) {
    platform::HttpsOptions options;
    options.caFile = caFile;
    options.maxBodyBytes = limit + 1;  // one more byte tells a file that is too large
    int lastPercent = -1;
    if (showProgress) {
        options.progress = [&](uint64_t received, uint64_t total) {
            if (total == 0) return;
            const int percent = int(received * 100 / total);
            if (percent == lastPercent) return;
            lastPercent = percent;
            log.progress("Downloading " + url + ": " + std::to_string(received) + " of " +
                         std::to_string(total) + " bytes (" + std::to_string(percent) + "%)");
        };
    }
    platform::HttpsReply reply;
    const uint32_t rc = client.get(url, options, reply);
    if (rc != 0) {
        log.line("Download of " + url + " failed, Code: " + std::to_string(rc) +
                 (reply.error.empty() ? "" : " (" + reply.error + ")"));
        return false;
    }
    if (reply.status != 200) {
        log.line("Download of " + url + " failed: the server answered " +
                 std::to_string(reply.status));
        return false;
    }
    if (reply.body.size() > limit) {
        log.line("Download of " + url + " refused: larger than " + std::to_string(limit) +
                 " bytes");
        return false;
    }
    body = std::move(reply.body);
    log.line("Downloaded " + url + ": " + std::to_string(body.size()) + " bytes");
    return true;
}

}  // namespace

std::u16string UpdateProgramFolder(const UpdateRun& run) {
    if (!run.programFolder.empty()) return run.programFolder;
    std::u16string path;
    if (platform::readString(platform::RegRoot::LocalMachine, names::kProductKey, names::kValuePath,
                             path) == 0) {
        while (!path.empty() && path.back() == u'\0') path.pop_back();
        if (path.size() >= 3) return path;
    }
    return platform::toWindowsPath(platform::programFolderHost());
}

namespace {

// Fetches, checks and puts in place the new database; restarts a running
// service after a good update.
UpdateResult updateDatabase(const std::u16string& programFolder, UpdateLog& log) {
    const auto failed = [&log](const std::string& why) {
        log.line(why);
        log.line("The hash database is left as it was.");
        return UpdateResult::Failed;
    };

    const std::string host = platform::toUtf8(readOnline(names::kOnlineHost));
    if (host.empty()) {
        return failed("Online services are not configured: no Host under HKLM\\" +
                      platform::toUtf8(names::kOnlineKey));
    }
    if (!names::isHostAndPort(host))
        return failed("The online Host \"" + host + "\" is not a host[:port]");
    std::u16string caValue = readOnline(names::kOnlineCaFile);
    std::string caFile;
    if (!caValue.empty()) {
        caFile =
            caValue.front() == u'/' ? platform::toUtf8(caValue) : platform::toHostPath(caValue);
    }

    platform::HttpsClient client;
    if (const uint32_t rc = client.open(); rc != 0) {
        return failed("Internet Open Failed, Code: " + std::to_string(rc));
    }
    std::string checksumText, database;
    if (!fetch(client, "https://" + host + kChecksumUrlPath, caFile, 4096, false, log,
               checksumText)) {
        return failed("No checksum, no update.");
    }
    std::string expected, reason;
    if (!ParseSha256File(checksumText, expected, reason)) {
        return failed("The checksum file is not usable: " + reason);
    }
    if (!fetch(client, "https://" + host + kDatabaseUrlPath, caFile, kMaxDatabaseBytes, true, log,
               database)) {
        return failed("The database could not be downloaded.");
    }
    const std::string actual = Sha256Hex(database);
    if (actual != expected) {
        return failed("Checksum mismatch: expected " + expected + ", the download has " + actual);
    }
    size_t hashes = 0;
    if (!CheckDatabaseBytes(database, hashes, reason)) {
        return failed("The downloaded database is not one the engine can read: " + reason);
    }
    log.line("Checked: SHA-256 " + actual + ", " + std::to_string(hashes) + " hashes");

    const std::u16string data = platform::joinPath(platform::parentPath(programFolder), u"data");
    (void)platform::createDirectory(data);
    const std::u16string target = platform::joinPath(data, u"hashdb.dbf");
    const std::u16string staged = platform::joinPath(data, u"hashdb.dbf.new");
    const std::u16string backup = platform::joinPath(data, u"hashdb.dbf.bak");
    if (const uint32_t rc = platform::writeWholeFile(staged, database); rc != 0) {
        (void)platform::deleteFile(staged);
        return failed("Cannot write " + platform::toUtf8(staged) + ", Code: " + std::to_string(rc));
    }
    if (const uint32_t rc = platform::replaceFile(target, staged, backup); rc != 0) {
        (void)platform::deleteFile(staged);
        return failed("Cannot replace " + platform::toUtf8(target) +
                      ", Code: " + std::to_string(rc));
    }
    log.line("The hash database " + platform::toUtf8(target) + " was replaced (" +
             std::to_string(database.size()) + " bytes); the previous one is kept as " +
             platform::toUtf8(backup));
    // The service reads the database once when it starts: a running one is
    // restarted so that real-time protection uses the new list at once.
    log.line(restartService());
    return UpdateResult::Updated;
}

std::string describe(const names::UpdateCaller& caller) {
    return "the application (pid " + std::to_string(caller.processId) + ")";
}

// Waits for the application that started this run to end, so that the copy
// started after the update is the only one. The caller names one process
// for good (its id and start time): an application already gone, or an id
// since taken by another process, reads as ended at once. False when the
// application still runs after kCallerWaitLimit.
bool waitForCaller(const names::UpdateCaller& caller, UpdateLog& log) {
    const auto running = [&caller] {
        return platform::processStartTime(caller.processId) == caller.startTime;
    };
    if (!running()) {
        log.line("Started by " + describe(caller) + ", which has already ended.");
        return true;
    }
    log.line("Started by " + describe(caller) + "; waiting for it to end.");
    const auto deadline = std::chrono::steady_clock::now() + kCallerWaitLimit;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            log.line("The application (pid " + std::to_string(caller.processId) +
                     ") did not end within " + std::to_string(kCallerWaitLimit.count()) +
                     " s; it is not started again.");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    log.line("The application (pid " + std::to_string(caller.processId) + ") has ended.");
    return true;
}

// Starts "<program folder>\Orvane" on its own, in the program folder, with
// this program's environment less the caller entry (a copy started by the
// updater did not start this run).
void startApplication(const std::u16string& programFolder, UpdateResult result, UpdateLog& log) {
    const std::u16string program = platform::joinPath(programFolder, kApplicationProgramName);
    log.line(std::string(result == UpdateResult::Updated ? "The update succeeded"
                                                         : "The update failed") +
             "; starting the application again: " + platform::toUtf8(program));
    const std::string host = platform::toHostPath(program);
    if (host.empty()) {
        log.line("The application could not be started again, Code: 3");
        return;
    }
    platform::DetachedOptions options;
    options.workingDirectory = platform::toHostPath(programFolder);
    const std::string entry = std::string(names::kUpdateCallerVariable) + "=";
    std::vector<std::string> environment;
    for (std::string& variable : platform::currentEnvironment()) {
        if (variable.compare(0, entry.size(), entry) != 0)
            environment.push_back(std::move(variable));
    }
    options.environment = std::move(environment);
    uint32_t pid = 0;
    if (const uint32_t rc = platform::startDetachedProcess({host}, options, &pid); rc != 0) {
        log.line("The application could not be started again, Code: " + std::to_string(rc));
        return;
    }
    log.line("The application was started again (pid " + std::to_string(pid) + ").");
}

}  // namespace

UpdateResult RunUpdate(const UpdateRun& run) {
    const std::u16string programFolder = UpdateProgramFolder(run);
    UpdateLog log(programFolder, run.show);
    log.line("ovUpdate started");
    names::UpdateCaller caller;
    const bool fromApplication =
        !run.caller.empty() && names::parseUpdateCaller(run.caller, caller);
    bool restart = false;
    if (fromApplication) {
        restart = waitForCaller(caller, log);
    } else if (!run.caller.empty()) {
        // The entry comes from whoever started this program: only its
        // printable start goes into the log.
        std::string shown = run.caller.substr(0, 64);
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
        log.line("The caller entry \"" + shown +
                 "\" is not one the application writes; the application is not started again.");
    } else {
        log.line("Not started by the application (as at logon); the application is not started.");
    }
    const UpdateResult result = updateDatabase(programFolder, log);
    if (restart) startApplication(programFolder, result, log);
    return result;
}
