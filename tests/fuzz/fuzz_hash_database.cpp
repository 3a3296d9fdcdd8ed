// The hash database as a scan run reads it: the engine loads the stored file
// of an installation, unscrambles it in place and looks hashes up. What it
// finds must agree with a plain model of the stored form: the bytes up to the
// first zero byte, each XOR the key, up to the first zero that gives.
//
// Input: one byte saying how the file is laid out (bit 0: extended, sparse,
// to 4 GiB, which the load refuses), then the file's bytes.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/registry_names.h"
#include "engine/engine_internal.h"
#include "platform/path.h"
#include "platform/registry.h"

namespace {

// A temporary installation the engine finds through the registry value Path:
// <root>/bin (made current by the load) and <root>/data/hashdb.dbf.
std::string g_database;

void makeInstallation() {
    char root[] = "/tmp/ov-fuzz-db-XXXXXX";
    if (!mkdtemp(root)) abort();
    const std::string base = root;
    if (::mkdir((base + "/bin").c_str(), 0700) != 0 || ::mkdir((base + "/data").c_str(), 0700) != 0)
        abort();
    ::setenv("ORVANE_REGISTRY", (base + "/registry.db").c_str(), 1);
    platform::resetRegistryConnection();
    if (platform::writeString(platform::RegRoot::LocalMachine, names::kProductKey,
                              names::kValuePath, platform::toWindowsPath(base + "/bin")) != 0)
        abort();
    g_database = base + "/data/hashdb.dbf";
    static const std::string removed = base;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(removed, ignored);
    });
}

void writeDatabase(const uint8_t* data, size_t size, bool huge) {
    const int fd = ::open(g_database.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) abort();
        done += static_cast<size_t>(n);
    }
    if (huge && ::ftruncate(fd, 0xFFFFFFFFll) != 0) abort();
    ::close(fd);
}

bool hashShaped(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeInstallation();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool huge = data[0] & 1;
    const uint8_t* stored = data + 1;
    const size_t storedSize = size - 1;
    writeDatabase(stored, storedSize, huge);

    const int32_t loaded = LoadDbFileData();
    if (huge) {
        // Refused, and nothing is found afterwards.
        if (loaded != 0 || DatabaseContains("44D88612FEA8A8F36DE82E1278ABB02F")) abort();
        return 0;
    }
    if (loaded != 1 || UnscrambleDbText() != 1) abort();

    std::string model;
    for (size_t i = 0; i < storedSize && stored[i] != 0; ++i) {
        const char c = static_cast<char>(stored[i] ^ DatabaseKeyByte());
        if (c == 0) break;
        model += c;
    }
    // Every hash in the text is found; a changed one is found exactly when
    // the text holds it; any other query is a substring search.
    for (size_t at = 0; at + 32 <= model.size() && at < 256; ++at) {
        std::string query = model.substr(at, 32);
        if (!hashShaped(query)) {
            if (DatabaseContains(query.c_str()) != (model.find(query) != std::string::npos))
                abort();
            continue;
        }
        if (!DatabaseContains(query.c_str())) abort();
        query[at % 32] = query[at % 32] == '0' ? '1' : '0';
        if (DatabaseContains(query.c_str()) != (model.find(query) != std::string::npos)) abort();
    }
    const std::string part = model.substr(0, 7);
    if (!part.empty() && part.find('\0') == std::string::npos && !DatabaseContains(part.c_str()))
        abort();
    // What lies behind the end of the text is never seen.
    if (storedSize > model.size() + 1) {
        std::string behind;
        for (size_t i = model.size() + 1; i < storedSize && behind.size() < 32; ++i)
            behind += static_cast<char>(stored[i] ^ DatabaseKeyByte());
        if (hashShaped(behind) && model.find(behind) == std::string::npos &&
            DatabaseContains(behind.c_str()))
            abort();
    }
    UnloadOVData();
    return 0;
}
