#include "engine/walker_sandbox_support.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/message.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "shared/stored_database.h"

namespace walker_test {

int ScanRecord::count(uint32_t code) const {
    auto it = counts.find(code);
    return it == counts.end() ? 0 : it->second;
}

int ScanRecord::findings(const std::string& tail) const {
    // " Infected Generic Malware: <path> [(null)]."
    int found = 0;
    for (const auto& line : reportLines) {
        auto start = line.find(": ");
        auto end = line.rfind(" [");
        if (start == std::string::npos || end == std::string::npos || end < start) continue;
        std::string path = line.substr(start + 2, end - start - 2);
        if (path.size() >= tail.size() &&
            path.compare(path.size() - tail.size(), tail.size(), tail) == 0) {
            ++found;
        }
    }
    return found;
}

bool ScanRecord::traced(const std::string& text) const {
    for (const auto& trace : traces) {
        if (trace.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string md5Upper(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 15];
    }
    return text;
}

int ScanRecord::memberFindings(const std::string& tail) const {
    // " Infected Generic Malware: <archive> [archive member: <chain>]."
    int found = 0;
    for (const auto& line : reportLines) {
        auto start = line.rfind(" [archive member: ");
        if (start == std::string::npos || line.size() < 2) continue;
        start += 18;
        const std::string chain = line.substr(start, line.size() - 2 - start);
        if (chain.size() >= tail.size() &&
            chain.compare(chain.size() - tail.size(), tail.size(), tail) == 0)
            ++found;
    }
    return found;
}

bool haveArchiver() { return fs::exists("/usr/bin/7zz"); }

bool makeArchive(const fs::path& archive, const fs::path& fromFolder,
                 const std::vector<std::string>& members, const std::string& type) {
    // "--" ends the switches: the archive and its members are taken literally.
    std::vector<std::string> argv = {"/usr/bin/7zz", "a",  "-bd",           "-t" + type,
                                     "-spd",         "--", archive.string()};
    for (const auto& member : members) argv.push_back(member);
    platform::SpawnOptions options;
    options.workingDirectory = fromFolder.string();
    platform::ChildProcess child;
    if (platform::ChildProcess::spawn(argv, options, child) != 0) return false;
    if (child.wait(std::chrono::seconds(60)) != 0) return false;
    return child.exitCode() == 0 && fs::exists(archive);
}

ScanSandbox::ScanSandbox() {
    std::string pattern = (fs::temp_directory_path() / "ov_walk_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_root = pattern;
    fs::create_directories(m_root / "bin");
    fs::create_directories(m_root / "data");
    fs::create_directories(tempFolder());

    if (const char* old = std::getenv("ORVANE_REGISTRY")) {
        m_hadRegistry = true;
        m_oldRegistry = old;
    }
    if (const char* old = std::getenv("TMPDIR")) {
        m_hadTmpdir = true;
        m_oldTmpdir = old;
    }
    ::setenv("ORVANE_REGISTRY", (m_root / "registry.db").c_str(), 1);
    ::setenv("TMPDIR", tempFolder().c_str(), 1);
    // Root extracts archives in the runtime folder: one of the sandbox's own.
    if (const char* old = std::getenv("ORVANE_RUNTIME_DIR")) {
        m_hadRuntimeDir = true;
        m_oldRuntimeDir = old;
    }
    ::setenv("ORVANE_RUNTIME_DIR", (m_root / "run").c_str(), 1);
    platform::resetRegistryConnection();

    const std::u16string binPath = platform::toUtf16((m_root / "bin").string());
    (void)platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                                names::kValuePath, binPath);
    platform::RegKey settings;
    (void)platform::RegKey::create(platform::RegRoot::LocalMachine, names::kSettingsKey, settings);
    writeDatabase();
}

ScanSandbox::~ScanSandbox() {
    if (m_hadRegistry) {
        ::setenv("ORVANE_REGISTRY", m_oldRegistry.c_str(), 1);
    } else {
        ::unsetenv("ORVANE_REGISTRY");
    }
    if (m_hadTmpdir) {
        ::setenv("TMPDIR", m_oldTmpdir.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    if (m_hadRuntimeDir) {
        ::setenv("ORVANE_RUNTIME_DIR", m_oldRuntimeDir.c_str(), 1);
    } else {
        ::unsetenv("ORVANE_RUNTIME_DIR");
    }
    platform::resetRegistryConnection();
    std::error_code ignored;
    // A scan makes the program folder current; the next test must not find
    // itself in a removed folder.
    if (fs::current_path(ignored).string().rfind(m_root.string(), 0) == 0)
        fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(m_root, ignored);
}

fs::path ScanSandbox::folder(const std::string& relative) const {
    fs::path path = m_root / relative;
    fs::create_directories(path);
    return path;
}

bool ScanSandbox::mapDrive(char letter, const fs::path& hostFolder) const {
    std::u16string name = u"\\DosDevices\\";
    name += static_cast<char16_t>(letter);
    name += u':';
    (void)platform::writeString(platform::RegRoot::LocalMachine, names::kMountedDevicesKey, name,
                                platform::toUtf16(hostFolder.string()));
    return platform::driveRoot(static_cast<char16_t>(letter)) == hostFolder.string();
}

void ScanSandbox::setSetting(const char16_t* name, uint32_t value) const {
    (void)platform::writeDword(platform::RegRoot::LocalMachine, names::kSettingsKey, name, value);
}

void ScanSandbox::write(const fs::path& file, const std::string& content) const {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

void ScanSandbox::plant(const fs::path& file, const std::string& content) {
    write(file, content);
    m_hashes.push_back(md5Upper(content));
    writeDatabase();
}

void ScanSandbox::plantExisting(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    m_hashes.push_back(md5Upper(content));
    writeDatabase();
}

void ScanSandbox::writeDatabase() const {
    std::string error;
    if (!ovtest::writeDatabaseFile(m_root / "data" / "hashdb.dbf", ovtest::databaseText(m_hashes),
                                   error))
        std::abort();
}

ScanRecord ScanSandbox::runFull(const std::u16string& driveList,
                                std::function<void(uint32_t, const std::u16string&)> hook) {
    ScanRequest request{};
    request.scanType = names::kScanTypeFull;
    platform::copy16(request.scanPaths, std::size(request.scanPaths), driveList);
    return run(request, std::move(hook));
}

ScanRecord ScanSandbox::runCustom(const std::u16string& file, const std::u16string& folder,
                                  std::function<void(uint32_t, const std::u16string&)> hook) {
    ScanRequest request{};
    request.scanType = names::kScanTypeCustom;
    platform::copy16(request.customFile, std::size(request.customFile), file);
    platform::copy16(request.customFolder, std::size(request.customFolder), folder);
    return run(request, std::move(hook));
}

ScanRecord ScanSandbox::run(ScanRequest& request,
                            std::function<void(uint32_t, const std::u16string&)> hook) {
    ScanRecord record;
    std::mutex lock;
    platform::WindowHandle window =
        platform::createWindow([&](uint32_t code, const char16_t* text) -> intptr_t {
            std::u16string wide = text ? std::u16string(text) : std::u16string();
            if (hook) hook(code, wide);
            std::string utf8 = platform::toUtf8(wide);
            std::lock_guard<std::mutex> guard(lock);
            if (code == SCANMSG_DEBUG) {
                if (utf8.rfind("SendOVMsg ", 0) == 0) return 0;
                record.traces.push_back(utf8);
            } else {
                record.sequence.push_back(std::to_string(code) + ":" + utf8);
            }
            ++record.counts[code];
            if (code == SCANMSG_REPORT_LINE) record.reportLines.push_back(utf8);
            if (code == SCANMSG_INFECTED_TEXT) record.infected.push_back(utf8);
            return 0;
        });
    request.hwndNotify = window;
    record.result = StartOVScan(&request);
    platform::destroyWindow(window);
    return record;
}

std::vector<std::string> ScanSandbox::tempLeftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(tempFolder())) {
        // The private scratch folder of a user other than root may stay,
        // as long as it is empty.
        if (entry.path().filename().string().rfind("orvane-", 0) == 0 && fs::is_empty(entry.path()))
            continue;
        names.push_back(entry.path().filename().string());
    }
    // Extraction folders of root, in the runtime folder.
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(m_root / "run" / "extract", ignored)) {
        names.push_back("run/extract/" + entry.path().filename().string());
    }
    return names;
}

}  // namespace walker_test
