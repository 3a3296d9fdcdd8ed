// The MD5 verdict: hash a block of bytes, look the hash up in the database
// text and record each infection of the scan run once.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "common/digest_text.h"
#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/md5.h"
#include "platform/error.h"
#include "platform/text.h"

namespace {

constexpr size_t kInfectionEntries = 2048;
constexpr size_t kHashUnits = 64;
constexpr size_t kTextUnits = 2048;

struct InfectionEntry {
    char16_t hash[kHashUnits];
    char16_t threatType[kTextUnits];
    char16_t path[kTextUnits];
};

struct FreeEntries {
    void operator()(InfectionEntry* entries) const { std::free(entries); }
};

// Taken with calloc: the 17 MB table comes zeroed from fresh pages that are
// only touched when an entry is written, rather than cleared at every scan.
std::unique_ptr<InfectionEntry[], FreeEntries> g_infections;

}  // namespace

bool AllocateInfectionTable() {
    static_assert(std::is_trivial_v<InfectionEntry>);
    g_infections.reset(
        static_cast<InfectionEntry*>(std::calloc(kInfectionEntries, sizeof(InfectionEntry))));
    return g_infections != nullptr;
}

void ReleaseInfectionTable() { g_infections.reset(); }

Md5Result HashBytes(const void* data, uint32_t size) {
    Md5Result result;
    Md5Hasher hasher;
    if (!hasher.ok()) {
        result.step = Md5Result::Step::ContextFailed;
    } else if (!hasher.update(data, size)) {
        result.step = Md5Result::Step::UpdateFailed;
    } else if (!hasher.finish(result.digest)) {
        result.step = Md5Result::Step::FinishFailed;
    } else {
        result.step = Md5Result::Step::Done;
    }
    return result;
}

uint32_t GenerateCryptoMd5Buffer(const void* data, uint32_t size, const char16_t* name,
                                 const char16_t* extra) {
    return JudgeMd5Result(HashBytes(data, size), size, name, extra);
}

// The traces are those of hashing step by step; the digest was made before
// the first of them, which only moves when the hashing happens.
uint32_t JudgeMd5Result(const Md5Result& md5, uint32_t size, const char16_t* name,
                        const char16_t* extra) {
    using Step = Md5Result::Step;
    SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer Start");
    SendOVMsg(SCANMSG_DEBUG,
              u" >>>>>>>>>>>>> GenerateCryptoMd5Buffer, step 1,Size: %d, File: %s, Extra: %s",
              static_cast<int>(size), name, extra);
    if (md5.step == Step::ContextFailed) {
        SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 2");
        SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer -> CryptCreateHash Error: %d",
                  static_cast<int>(platform::kErrorInvalidFunction));
        return platform::kErrorInvalidFunction;
    }
    SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 2");
    SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 3");
    if (md5.step == Step::UpdateFailed) {
        SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer -> CryptHashData Error: %d",
                  static_cast<int>(platform::kErrorInvalidFunction));
        return platform::kErrorInvalidFunction;
    }
    SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 4");
    uint32_t result = 0;
    if (md5.step == Step::Done) {
        SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 5");
        char16_t hashText[33];
        names::digestDigitsUpper(md5.digest, hashText);
        SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 6");
        ScanHashData(hashText, name, extra, md5.listed);
        SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 7");
    } else {
        result = platform::kErrorInvalidFunction;
        SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 8 error: %d",
                  static_cast<int>(result));
    }
    SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 9");
    SendOVMsg(SCANMSG_DEBUG, u" GenerateCryptoMd5Buffer, step 10, %d", static_cast<int>(result));
    return result;
}

void ScanHashData(const char16_t* hashText, const char16_t* name, const char16_t* extra,
                  Md5Result::Listed listed) {
    SendOVMsg(SCANMSG_OBJECT_TICK, u"");
    SendOVMsg(SCANMSG_DEBUG, u" ScanHashData: HASH: %s | File: %s | Extra: %s", hashText, name,
              extra);
    SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step 1");
    // The text is looked up only when the worker that made the digest could not.
    std::string ansiHash;
    if (listed == Md5Result::Listed::Unknown) {
        ansiHash = platform::toAnsi(hashText ? hashText : u"");
        if (ansiHash.size() >= 8192) ansiHash.clear();
    }
    SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step 2");
    if (RunFlag() == 0) return;

    SendOVMsg(SCANMSG_CURRENT_FILE, u"%s", name);
    const bool found = listed == Md5Result::Listed::Unknown ? DatabaseContains(ansiHash.c_str())
                                                            : listed == Md5Result::Listed::Yes;
    if (found) {
        SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step 3");
        const FindingName finding(name, extra);
        SendOVMsg(SCANMSG_INFECTED_TEXT, u"### %s -> Infected!", finding.name());
        SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step 4");
        SendOVMsg(SCANMSG_THREAT_TYPE, u"Malware");
        AddFileToReport(finding.name(), hashText, u"Malware", finding.extra());
        SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step 5");
    } else {
        SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step 6 -> %s OK", name);
    }
    SendOVMsg(SCANMSG_DEBUG, u" ScanHashData, step 7 End.");
}

void AddFileToReport(const char16_t* name, const char16_t* hashText, const char16_t* threatType,
                     const char16_t* extra) {
    SendOVMsg(SCANMSG_DEBUG, u" AddFileToReport start");
    SendOVMsg(SCANMSG_DEBUG, u" AddFileToReport, step 1");
    if (!g_infections || !hashText) return;
    const std::u16string_view hash(hashText);
    const size_t typeLength = platform::length16(threatType);
    for (size_t i = 0; i < kInfectionEntries; ++i) {
        InfectionEntry& entry = g_infections[i];
        // A hash already recorded in this scan run is reported once only,
        // whichever file it came from.
        if (hash == std::u16string_view(entry.hash)) {
            SendOVMsg(SCANMSG_DEBUG, u" AddFileToReport, step 2");
            return;
        }
        if (platform::length16(entry.hash) < 2 && typeLength > 3) {
            SendOVMsg(SCANMSG_DEBUG, u" AddFileToReport, step 3");
            platform::copy16(entry.hash, kHashUnits, hash);
            platform::copy16(entry.path, kTextUnits, name ? name : u"");
            platform::copy16(entry.threatType, kTextUnits, threatType);
            SendOVMsg(SCANMSG_INFECTED_TICK, u"");
            SendOVMsg(SCANMSG_REPORT_LINE, u" Infected Generic %s: %s [%s].", threatType, name,
                      extra);
            SendOVMsg(SCANMSG_DEBUG, u" [DEBUG] %s %s %s [%s]", threatType, name, hashText, extra);
            return;
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u" AddFileToReport, step 4");
}
