#include "service/realtime_check.h"

#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "common/registry_names.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/scan_record.h"
#include "service/service_host.h"
#include "service/service_log.h"
#include "service/service_state.h"
#include "service/session_launch.h"

namespace ovsvc {

namespace {

constexpr size_t kCommandLineUnits = 4096;
constexpr size_t kPathValueBytes = 1024;

// What the check can do when the digest library fails to start.
constexpr uint32_t kErrorProviderUnavailable = 0x80090016;  // NTE_BAD_KEYSET

std::u16string programFolder() {
    std::u16string path;
    if (platform::readString(platform::RegRoot::LocalMachine, names::kProductKey, names::kValuePath,
                             path) != 0) {
        return {};
    }
    if (path.size() > kPathValueBytes / 2 - 1) path.resize(kPathValueBytes / 2 - 1);
    return path;
}

}  // namespace

std::u16string alertCommandLine(const std::u16string& folder, const std::u16string& path) {
    std::u16string line = folder + u"\\ovfilemsg.exe " + path;
    if (line.size() > kCommandLineUnits - 1) line.resize(kCommandLineUnits - 1);
    return line;
}

uint32_t GenerateCryptoMd5Buffer(const uint8_t* data, size_t size, const std::u16string& path) {
    logText("[INFO] GenerateCryptoMd5Buffer=> start...\n");
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!context) {
        logFormat("[ERROR] GenerateCryptoMd5Buffer=> Acquire Context Failed, code: %d\n",
                  static_cast<int>(kErrorProviderUnavailable));
        logFlush();
        return kErrorProviderUnavailable;
    }
    if (EVP_DigestInit_ex(context, EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        logFormat("[ERROR] GenerateCryptoMd5Buffer=> Create Hash Failed, code: %d\n",
                  static_cast<int>(platform::kErrorInvalidFunction));
        logFlush();
        return 0;
    }
    if (EVP_DigestUpdate(context, data, size) != 1) {
        EVP_MD_CTX_free(context);
        logFormat("[ERROR] GenerateCryptoMd5Buffer=> Hash Data Failed, code:  %d\n",
                  static_cast<int>(platform::kErrorInvalidFunction));
        logFlush();
        return 0;
    }
    uint32_t verdict = 0;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) == 1 && length == 16) {
        static const char kDigits[] = "0123456789abcdef";
        std::string hashText;
        for (unsigned i = 0; i < 16; ++i) {
            hashText += kDigits[digest[i] >> 4];
            hashText += kDigits[digest[i] & 0xF];
        }
        for (char& c : hashText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        logText(platform::toAnsi(path) + " [" + hashText + "].");
        ServiceState& state = serviceState();
        bool infected = false;
        bool present = false;
        {
            std::lock_guard<std::mutex> hold(state.hashListLock);
            present = state.hashList.present();
            infected = present && state.hashList.contains(hashText);
        }
        if (!present) {
            logText("[ERROR] GenerateCryptoMd5Buffer=> DB file is null\n");
            logFlush();
        } else if (infected) {
            logText("[INFO]GenerateCryptoMd5Buffer=>  " + hashText + " -> Infected!!!\n");
            std::memset(state.status.lastInfectedPath, 0, sizeof state.status.lastInfectedPath);
            platform::copy16(state.status.lastInfectedPath, 2048, path);
            ++state.status.filesInfected;
            // A finding is never held back with the lines of a burst.
            logFlushNow();
            // Published at once, so that the shared record never lags an
            // infection behind.
            (void)UpdateMemoryData();
            EVP_MD_CTX_free(context);
            return 1;
        } else {
            ++state.status.filesClean;
            (void)UpdateMemoryData();
        }
    }
    EVP_MD_CTX_free(context);
    logText("[INFO] GenerateCryptoMd5Buffer=> end\n");
    logFlush();
    return verdict;
}

bool CheckChangedFile(const std::u16string& path) {
    if (debugEnabled()) logText("Scanning File: " + platform::toAnsi(path) + "\n");
    platform::File file;
    uint32_t rc = platform::File::open(path, platform::kGenericRead, platform::kShareRead,
                                       platform::Disposition::OpenExisting, file);
    if (rc != 0) {
        logFormat("[ERROR] Unable to open file -> test 1 sleep, code: %d\n", static_cast<int>(rc));
        // Waiting helps a file that is held open elsewhere, not one that is
        // gone (a temporary file removed right after it was written): for
        // those the wait would only hold back every file queued behind.
        const bool gone = rc == platform::kErrorFileNotFound || rc == platform::kErrorPathNotFound;
        // The counts held for the registry are not kept back by the wait.
        if (!gone) FlushScanRecord();
        if (!gone && !sleepUnlessStopped(std::chrono::milliseconds(kFirstRetryDelayMs)))
            return false;
        rc = platform::File::open(path, platform::kGenericRead, platform::kShareRead,
                                  platform::Disposition::OpenExisting, file);
        if (rc != 0) {
            logFormat("[ERROR] Unable to open file -> test 2, code: %d\n", static_cast<int>(rc));
            rc = platform::File::open(path, platform::kGenericRead | platform::kGenericWrite,
                                      platform::kShareRead | platform::kShareWrite,
                                      platform::Disposition::OpenExisting, file);
            if (rc != 0) {
                logFormat(
                    "[ERROR] Unable to open file -> test 3, code: %d... will have to skip..\n",
                    static_cast<int>(rc));
                logFlush();
                return false;
            }
        }
    }
    uint32_t verdict = 0;
    uint64_t size = 0;
    if (file.size(size) == 0 && size < kLargestHashedFile) {
        std::vector<uint8_t> block(static_cast<size_t>(size), 0);
        uint32_t got = 0;
        // One read of the whole size; a file that shrank meanwhile is not hashed.
        if (size == 0 ||
            (file.read(block.data(), static_cast<uint32_t>(size), got) == 0 && got == size)) {
            verdict = GenerateCryptoMd5Buffer(block.data(), block.size(), path);
        }
    }
    (void)UpdateScanRecord(path, verdict);
    if (verdict == 1) {
        const std::u16string commandLine = alertCommandLine(programFolder(), path);
        logText(" Malware Found...show info process\n");
        logText("[INFO] StartOVScanner=> Start OV: " + platform::toAnsi(commandLine) + "\n");
        // The alert gets the path as one argument, whole, whatever it holds.
        (void)LaunchAppIntoDifferentSession(
            {programFolder() + u"\\ovfilemsg", path},
            [](std::u16string_view line) { logText(platform::toAnsi(line)); });
    }
    file = platform::File();
    if (verdict == 1)
        logFlushNow();
    else
        logFlush();
    return true;
}

}  // namespace ovsvc
