#include "app/results/quarantine.h"

#include <openssl/evp.h>

#include <chrono>
#include <memory>
#include <new>

#include "app/results/record_header.h"
#include "app/shell/app_log.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/text.h"

using namespace platform;

namespace {

constexpr char16_t kRecordSuffix[] = u".ovm";
constexpr char16_t kFullPathSuffix[] = u".ovp";
constexpr char16_t kPartSuffix[] = u".part";

void step(const QuarantineHook& hook, QuarantineStep at) {
    if (hook) hook(at);
}

// The digits without the record's suffix.
std::u16string digestOf(std::u16string_view recordName) {
    std::u16string_view suffix = kRecordSuffix;
    if (recordName.size() > suffix.size() &&
        equalsIgnoreCase(recordName.substr(recordName.size() - suffix.size()), suffix))
        recordName.remove_suffix(suffix.size());
    return std::u16string(recordName);
}

uint32_t readAll(File& file, std::string& out) {
    uint64_t size = 0;
    if (uint32_t rc = file.size(size); rc != kErrorSuccess) return rc;
    try {
        out.assign(static_cast<size_t>(size), '\0');
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    size_t done = 0;
    while (done < out.size()) {
        uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(out.size() - done, 1u << 30));
        uint32_t got = 0;
        if (uint32_t rc = file.read(out.data() + done, chunk, got); rc != kErrorSuccess) return rc;
        if (got == 0) break;  // shorter than it was a moment ago
        done += got;
    }
    out.resize(done);
    return kErrorSuccess;
}

uint32_t writeAll(File& file, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(data.size() - done, 1u << 30));
        uint32_t put = 0;
        if (uint32_t rc = file.write(data.data() + done, chunk, put); rc != kErrorSuccess)
            return rc;
        done += put;
    }
    return kErrorSuccess;
}

// Writes a new file under a temporary name beside its final one, flushes it
// and renames it into place (never over an existing file unless replace).
uint32_t writeDurably(const std::u16string& finalPath, std::string_view first,
                      std::string_view second, bool replace, const QuarantineHook& hook,
                      bool announce) {
    std::u16string part = finalPath + kPartSuffix;
    (void)deleteFileNoPlantedLink(part);  // left by a run that was stopped
    File file;
    if (uint32_t rc = createFileNoPlantedLink(part, 0, file, 0600); rc != kErrorSuccess) return rc;
    uint32_t rc = writeAll(file, first);
    if (rc == kErrorSuccess) rc = writeAll(file, second);
    if (rc == kErrorSuccess && announce) step(hook, QuarantineStep::PartWritten);
    if (rc == kErrorSuccess) rc = flushFile(file);
    file.close();
    if (rc == kErrorSuccess && announce) step(hook, QuarantineStep::PartFlushed);
    if (rc == kErrorSuccess) rc = renameFileNoPlantedLink(part, finalPath, replace);
    if (rc != kErrorSuccess) (void)deleteFileNoPlantedLink(part);
    return rc;
}

// The header's path without the blanks and dots that may end it (column 0
// of the results list keeps the blank before "[").
std::u16string_view withoutTrailingBlanks(std::u16string_view path) {
    while (!path.empty() && (path.back() == u' ' || path.back() == u'.')) path.remove_suffix(1);
    return path;
}

// What is kept beside a record: "OVP1", the file's owner, group and mode
// (little-endian 32-bit numbers), then its exact path as UTF-16LE.
constexpr char kKeptMagic[] = "OVP1";
constexpr size_t kKeptFixedBytes = 16;

void putNumber(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t numberAt(std::string_view bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

std::string keptBytes(const FileOwner& owner, std::u16string_view path) {
    std::string out(kKeptMagic, 4);
    putNumber(out, owner.user);
    putNumber(out, owner.group);
    putNumber(out, owner.mode);
    return out + toUtf16LeBytes(path);
}

struct Origin {
    std::u16string path;  // empty when it cannot be known
    bool hasOwner = false;
    FileOwner owner;
};

// Where a record came from: what is kept beside it when that agrees with
// what the header kept (it has the file's exact name, all of a long path and
// the owner), else the header's path when the header holds all of it.
Origin originOf(std::u16string_view folder, std::u16string_view recordName,
                const RecordHeaderValue& fileName) {
    Origin out;
    std::string kept;
    std::u16string full;
    if (readWholeFile(joinPath(folder, digestOf(recordName) + kFullPathSuffix), kept, 1u << 16) ==
            kErrorSuccess &&
        kept.size() >= kKeptFixedBytes && kept.compare(0, 4, kKeptMagic) == 0 &&
        kept.size() % 2 == 0) {
        for (size_t i = kKeptFixedBytes; i < kept.size(); i += 2)
            full.push_back(static_cast<char16_t>(static_cast<unsigned char>(kept[i]) |
                                                 (static_cast<unsigned char>(kept[i + 1]) << 8)));
    }
    std::u16string headerPath = toLower(withoutTrailingBlanks(fileName.value));
    if (!full.empty() && !headerPath.empty() &&
        toLower(full).compare(0, headerPath.size(), headerPath) == 0) {
        out.path = full;
        out.hasOwner = true;
        out.owner = {numberAt(kept, 4), numberAt(kept, 8), numberAt(kept, 12)};
    } else if (fileName.complete) {
        out.path = fileName.value;
    }
    return out;
}

}  // namespace

std::u16string Md5HexString(const void* bytes, size_t length) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes, length) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &digestLength) != 1 || digestLength != 16)
        return {};
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string out;
    out.reserve(64);
    for (unsigned i = 0; i < digestLength; ++i) {
        out.push_back(kDigits[digest[i] >> 4]);
        out.push_back(kDigits[digest[i] & 0xF]);
    }
    return out;
}

uint32_t DeleteUserFile(std::u16string_view path) {
    uint32_t rc = deleteFileNoPlantedLink(path);
    if (rc != kErrorAccessDenied) return rc;
    // A read-only file: Windows would refuse it, but a user who deletes a
    // threat wants it gone. A planted link is refused here again.
    uint32_t attributes = getFileAttributes(path);
    if (attributes == kInvalidAttributes || !(attributes & kAttrReadOnly) ||
        (attributes & (kAttrDirectory | kAttrReparsePoint)))
        return rc;
    if (setFileAttributesNoPlantedLink(path, kAttrNormal) != kErrorSuccess) return rc;
    return deleteFileNoPlantedLink(path);
}

QuarantineOutcome QuarantineFile(std::u16string_view folder, std::u16string_view path,
                                 std::u16string_view headerText, const QuarantineHook& hook) {
    QuarantineOutcome out;
    std::string content;
    FileOwner owner;
    {
        File source;
        out.code = openFileNoPlantedLink(path, kGenericRead, kShareRead | kShareWrite, source);
        if (out.code != kErrorSuccess) return out;
        if ((out.code = source.owner(owner)) != kErrorSuccess) return out;
        if ((out.code = readAll(source, content)) != kErrorSuccess) return out;
    }
    std::u16string digest = Md5HexString(content.data(), content.size());
    if (digest.empty()) {
        out.code = kErrorInvalidFunction;
        return out;
    }
    step(hook, QuarantineStep::SourceRead);
    out.recordName = digest + kRecordSuffix;
    std::u16string record = joinPath(folder, out.recordName);

    if (getFileAttributes(record) != kInvalidAttributes) {
        // The same content is already safe in quarantine.
        out.alreadyQuarantined = true;
    } else {
        std::string header = RecordHeaderBytes(headerText);
        // The file's exact name: the engine may report a path in another
        // case than the disk holds it.
        std::u16string exact = toWindowsPath(toHostPath(path));
        if (exact.empty()) exact = std::u16string(withoutTrailingBlanks(path));
        // The exact path and the owner are kept beside the record before the
        // record exists, so a record never lacks them.
        out.code = writeDurably(joinPath(folder, digest + kFullPathSuffix), keptBytes(owner, exact),
                                {}, true, hook, false);
        if (out.code != kErrorSuccess) return out;
        step(hook, QuarantineStep::FullPathKept);
        out.code = writeDurably(record, header, content, false, hook, true);
        if (out.code == kErrorAlreadyExists) {
            out.alreadyQuarantined = true;  // another run put the same content there
        } else if (out.code != kErrorSuccess) {
            return out;
        } else {
            step(hook, QuarantineStep::RecordInPlace);
            (void)flushFolderNoPlantedLink(folder);
            step(hook, QuarantineStep::FolderFlushed);
        }
    }
    out.code = DeleteUserFile(path);
    if (out.code != kErrorSuccess) return out;
    step(hook, QuarantineStep::SourceDeleted);
    if (!out.alreadyQuarantined) {
        (void)setFileAttributesNoPlantedLink(record, kAttrReadOnly | kAttrHidden | kAttrSystem);
        step(hook, QuarantineStep::AttributesSet);
    }
    return out;
}

int32_t OVGenerateQFile(const char16_t* path, const char16_t* headerText) {
    LogEntry(u"OVGenerateQFile");
    if (!path || !headerText) return 0;
    return QuarantineFile(kQuarantineFolder, path, headerText).code == kErrorSuccess ? 1 : 0;
}

std::u16string QuarantineDateText(int64_t unixSeconds) {
    using namespace std::chrono;
    sys_seconds moment{seconds{unixSeconds}};
    sys_days day = floor<days>(moment);
    year_month_day date{day};
    hh_mm_ss<seconds> time{moment - day};
    return format16(u"%2d/%2d/%d %2d:%2d:%2d", static_cast<unsigned>(date.month()),
                    static_cast<unsigned>(date.day()), static_cast<int>(date.year()),
                    static_cast<int>(time.hours().count()),
                    static_cast<int>(time.minutes().count()),
                    static_cast<int>(time.seconds().count()));
}

std::vector<QuarantineItem> ListQuarantine(std::u16string_view folder) {
    std::vector<QuarantineItem> items;
    FindFile find;
    FindData entry;
    if (FindFile::first(joinPath(folder, u"*.ovm"), find, entry) != kErrorSuccess) return items;
    do {
        if (entry.attributes & (kAttrDirectory | kAttrReparsePoint | kAttrDevice)) continue;
        File record;
        if (openFileNoPlantedLink(joinPath(folder, entry.name), kGenericRead, 0, record) !=
            kErrorSuccess)
            continue;
        char header[kRecordHeaderBytes] = {};
        uint32_t got = 0;
        if (record.read(header, sizeof header, got) != kErrorSuccess) continue;
        RecordHeader values = ParseRecordHeader(std::string_view(header, got));
        // A record is never modified after it is written, so its write time
        // is the time it was made.
        items.push_back({entry.name, values.fileName.value, QuarantineDateText(entry.lastWriteUnix),
                         values.malwareType.value, values.location.value,
                         originOf(folder, entry.name, values.fileName).path});
    } while (find.next(entry) == kErrorSuccess);
    return items;
}

uint32_t RemoveRecord(std::u16string_view folder, std::u16string_view recordName) {
    std::u16string record = joinPath(folder, recordName);
    std::u16string digest = digestOf(recordName);
    uint32_t rc = deleteFileNoPlantedLink(record);
    if (rc == kErrorAccessDenied && getFileAttributes(record) != kInvalidAttributes &&
        setFileAttributesNoPlantedLink(record, kAttrNormal) == kErrorSuccess)
        rc = deleteFileNoPlantedLink(record);
    if (rc != kErrorSuccess) return rc;
    (void)deleteFileNoPlantedLink(joinPath(folder, digest + kFullPathSuffix));
    return kErrorSuccess;
}

RestoreOutcome RestoreRecord(std::u16string_view folder, std::u16string_view recordName) {
    RestoreOutcome out;
    std::string bytes;
    {
        File record;
        out.code = openFileNoPlantedLink(joinPath(folder, recordName), kGenericRead, 0, record);
        if (out.code != kErrorSuccess) {
            out.message = format16(u"Create File %s, code: %d", std::u16string(recordName).c_str(),
                                   static_cast<int>(out.code));
            return out;
        }
        out.code = readAll(record, bytes);
        if (out.code == kErrorNotEnoughMemory) {
            out.message =
                format16(u"Memory Allocation Error, code: %d", static_cast<int>(out.code));
            return out;
        }
        if (out.code != kErrorSuccess) {
            out.message = format16(u"Create File %s, code: %d", std::u16string(recordName).c_str(),
                                   static_cast<int>(out.code));
            return out;
        }
    }
    std::string_view header = std::string_view(bytes).substr(0, kRecordHeaderBytes);
    std::string_view content = bytes.size() > kRecordHeaderBytes
                                   ? std::string_view(bytes).substr(kRecordHeaderBytes)
                                   : std::string_view();
    RecordHeader values = ParseRecordHeader(header);
    out.location = values.location.value;
    out.target = values.fileName.value;
    Origin origin = originOf(folder, recordName, values.fileName);
    if (origin.path.empty()) {
        // A path the header lost the end of, with nothing whole beside it:
        // never restored to a guessed place.
        out.code = kErrorInvalidName;
        out.message =
            format16(u"Create File %s, code: %d", out.target.c_str(), static_cast<int>(out.code));
        return out;
    }
    out.target = origin.path;

    // The target is made anew: whatever file stands there is replaced, a
    // link is never followed, and the content is complete before the record
    // goes.
    File target;
    out.code = createFileNoPlantedLink(out.target, 0, target, origin.hasOwner ? 0600 : 0644);
    if (out.code == kErrorFileExists && DeleteUserFile(out.target) == kErrorSuccess)
        out.code = createFileNoPlantedLink(out.target, 0, target, origin.hasOwner ? 0600 : 0644);
    if (out.code == kErrorSuccess) {
        out.code = writeAll(target, content);
        // Back with its owner and mode: a file that was not the caller's to
        // read does not come back readable to everyone.
        if (out.code == kErrorSuccess && origin.hasOwner) (void)target.setOwner(origin.owner);
        if (out.code == kErrorSuccess) out.code = flushFile(target);
        target.close();
        if (out.code != kErrorSuccess) (void)deleteFileNoPlantedLink(out.target);
    }
    if (out.code != kErrorSuccess) {
        out.message =
            format16(u"Create File %s, code: %d", out.target.c_str(), static_cast<int>(out.code));
        return out;
    }
    out.code = RemoveRecord(folder, recordName);
    if (out.code != kErrorSuccess)
        out.message = format16(u"Create File %s, code: %d", std::u16string(recordName).c_str(),
                               static_cast<int>(out.code));
    return out;
}
