// __ScanFile: one file, from the path a caller found to its verdict.
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/read_ahead.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

// Files of this size or more are not read: the whole file goes into memory.
constexpr uint64_t kMaxScannedFileBytes = 5u * 1024 * 1024;

uint32_t OpenForScan(std::u16string_view path, platform::File& file) {
    return platform::File::open(path, platform::kGenericRead, platform::kShareRead,
                                platform::Disposition::OpenExisting, file);
}

// The file a read-ahead worker opened at this very path a moment ago with
// the same access and sharing (and its digest, if any), or the file opened
// here: inside the folder it was listed in for a walked file, else by path.
uint32_t OpenOrTakeAhead(std::u16string_view path, const platform::EntryInFolder* listed,
                         platform::File& file, ReadAheadResult& ahead, bool& taken) {
    ReadAhead* readAhead = CurrentReadAhead();
    taken = readAhead && readAhead->take(path, ahead);
    if (taken) {
        file = std::move(ahead.file);
        platform::setLastError(platform::kErrorSuccess);  // as a successful open leaves it
        return 0;
    }
    if (listed) return platform::File::openInFolder(*listed, platform::kShareRead, file);
    return OpenForScan(path, file);
}

// Whether an open failed because nothing is at the path: only then is a
// text cut down to the path it may hold.
bool NothingThere(uint32_t error) {
    return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound ||
           error == platform::kErrorInvalidName || error == platform::kErrorFilenameExcedRange;
}

// The path as the caller gave it, and without the quotation marks around a
// program path whose arguments were cut off ("C:\x\a.exe" /S -> C:\x\a.exe).
std::u16string Unquoted(std::u16string_view path) {
    if (path.size() >= 2 && path.front() == u'"') {
        path.remove_prefix(1);
        size_t end = path.find(u'"');
        if (end != std::u16string_view::npos) path = path.substr(0, end);
    }
    return std::u16string(path);
}

// The program of a command line as given, its arguments cut off without
// any translation ("e:\tools\app.exe /s" -> e:\tools\app.exe).
std::u16string ProgramOf(std::u16string_view given) {
    std::vector<char16_t> text(given.begin(), given.end());
    text.push_back(0);
    const char16_t* cut = RemoveBadChars(text.data());
    return cut ? std::u16string(cut) : std::u16string();
}

// The last tries when neither the path as given nor its translation opens:
// that path without quotation marks, and its program without arguments.
bool OpenAsGiven(std::u16string_view given, std::u16string_view alreadyTried, platform::File& file,
                 std::u16string& opened) {
    const std::u16string candidates[] = {Unquoted(given), Unquoted(alreadyTried), ProgramOf(given)};
    for (const std::u16string& candidate : candidates) {
        if (candidate.size() < 3 || candidate == alreadyTried || candidate == given) continue;
        uint32_t error = OpenForScan(candidate, file);
        SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 5.1, as given: %s, err %d",
                  candidate.c_str(), static_cast<int>(error));
        if (error == 0) {
            opened = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

namespace {

// One file, from the path a caller found to its verdict. The path is opened
// exactly as given first: the translation cuts a path at its first
// character outside 32..122 and drops what stands before a token, so a file
// whose name holds "~", "{", "|", "}" or a non-ASCII letter would otherwise
// be passed over for a neighbour named with the start of its name. The
// translation is opened only when nothing is at the path as given (a
// command line, a registry text). A walked file (listed) is opened only as
// listed, inside its folder.
int32_t ScanFileAt(char16_t* path, const char16_t* extra, const platform::EntryInFolder* listed) {
    if (RunFlag() == 0) return 1;
    if (!path || platform::length16(path) < 3) return 0;
    SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile ##### Started: %s, %s", path, extra);

    // A listed file is opened only as listed: its translation shows in
    // traces and nowhere else, so it is worked out only when they are wanted.
    const bool translating = !listed || TracesWanted();
    // The path as given: TranslatePath cuts path in place, so it is copied
    // first when it will be translated.
    std::u16string givenCopy;
    if (translating) givenCopy = path;
    const std::u16string_view given =
        translating ? std::u16string_view(givenCopy) : std::u16string_view(path);
    const char16_t* const givenText = translating ? givenCopy.c_str() : path;
    std::unique_ptr<char16_t[]> translated;
    if (translating) translated = TranslatePath(path);
    if (RunFlag() == 0) {
        SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Thread is FALSE");
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 0: start...");
    SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 1: File Name: %s, Extra: %s, PFN: %s", path,
              extra, translated.get());

    platform::File file;
    ReadAheadResult ahead;
    bool takenAhead = false;
    // The path that opened: one of the texts above, or openedText.
    const char16_t* name = nullptr;
    std::u16string openedText;
    // The path as given, when it is not the one about to be tried anyway:
    // true when it opened; false with the error that decides what follows.
    auto openGivenFirst = [&](std::u16string_view next, uint32_t& error) {
        error = 0;
        if (!listed && given == next) return false;
        error = OpenOrTakeAhead(given, listed, file, ahead, takenAhead);
        if (given != next)
            SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 4.1, as named: %s, err %d",
                      givenText, static_cast<int>(error));
        if (error != 0) return false;
        name = givenText;
        return true;
    };
    if (translated && platform::length16(translated.get()) >= 3) {
        SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 4 -> %s", translated.get());
        uint32_t error = 0;
        const bool openedAsGiven = openGivenFirst(translated.get(), error);
        if (!openedAsGiven && !listed && (error == 0 || NothingThere(error)))
            error = OpenOrTakeAhead(translated.get(), nullptr, file, ahead, takenAhead);
        if (!openedAsGiven && error != 0) {
            SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 5, err %d",
                      static_cast<int>(error));
            if (listed || !OpenAsGiven(given, translated.get(), file, openedText)) return 0;
            name = openedText.c_str();
        } else if (!openedAsGiven) {
            openedText = translated.get();  // the translation is freed before the scan
            name = openedText.c_str();
        }
        if (error == 0)
            SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 7, error code: %d",
                      static_cast<int>(platform::lastError()));
        SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 8");
        SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 9");
    } else {
        SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 2");
        uint32_t error = 0;
        const bool openedAsGiven = openGivenFirst(path, error);
        if (!openedAsGiven && !listed && (error == 0 || NothingThere(error)))
            error = OpenOrTakeAhead(path, nullptr, file, ahead, takenAhead);
        if (!openedAsGiven && error != 0) {
            SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile failed, pFileName: %s, err: %d", path,
                      static_cast<int>(error));
            if (listed || !OpenAsGiven(given, path, file, openedText)) {
                if (translated)
                    SendOVMsg(SCANMSG_DEBUG,
                              u"  __ScanFile failed, pFileName: %s, heap is allocated", path);
                return 0;
            }
            name = openedText.c_str();
        } else if (!openedAsGiven) {
            name = path;
        }
        SendOVMsg(SCANMSG_DEBUG, u"  __ScanFile [INFO] Step 3");
    }
    // The whole path names the file in every message and report line.
    translated.reset();

    std::lock_guard<std::recursive_mutex> fileLock(FileLock());
    uint64_t size = 0;
    // The full 64-bit size decides: a file of 4 GiB and a few bytes is large,
    // not a few bytes long.
    platform::FileIdentity identity;
    if (file.identity(identity) == 0 && identity.size < kMaxScannedFileBytes) {
        size = identity.size;
        SendOVMsg(SCANMSG_DEBUG, u" __ScanFile, size: %d", static_cast<int>(size));
        // A digest a read-ahead worker made of this very version of the file
        // stands for reading it here; the messages are the same either way.
        const bool readAhead = ahead.hashed && file.identityAtOpen() == identity;
        std::unique_ptr<uint8_t[]> buffer;
        if (!readAhead) buffer.reset(new (std::nothrow) uint8_t[size ? size : 1]);
        if (readAhead || buffer) {
            SendOVMsg(SCANMSG_DEBUG, u" __ScanFile, heap ok");
            WaitWhilePaused();
            uint32_t done = 0;
            uint32_t error = 0;
            if (readAhead) {
                done = ahead.bytes;
            } else if (takenAhead) {
                // A worker may have read some of it: from its start again.
                error = file.seek(0, platform::SeekOrigin::Begin);
            }
            while (!readAhead && error == 0 && done < size) {
                uint32_t got = 0;
                error = file.read(buffer.get() + done, static_cast<uint32_t>(size) - done, got);
                if (error != 0 || got == 0) break;
                done += got;
            }
            if (error == 0) {
                SendOVMsg(SCANMSG_DEBUG,
                          u" >>>>>>>>>>>>> __ScanFile, The file we going to check: [Sizes: %d <> "
                          u"%d ] %s",
                          static_cast<int>(size), static_cast<int>(done), name);
                if (readAhead)
                    JudgeMd5Result(ahead.md5, done, name, extra);
                else
                    GenerateCryptoMd5Buffer(buffer.get(), done, name, extra);
                ScanRequest* request = CurrentRequest();
                if (request && request->deepScan == 1) {
                    SendOVMsg(SCANMSG_DEBUG, u" __ScanFile, going deep...start");
                    // The file already open, not the path again: what the
                    // path leads to may have changed since.
                    GetFileSectionsOf(file, name, extra);
                    SendOVMsg(SCANMSG_DEBUG, u" __ScanFile, going deep...done");
                }
            } else {
                SendOVMsg(SCANMSG_DEBUG, u" __ScanFile, read failed, err: %d, bytes read: %d",
                          static_cast<int>(error), static_cast<int>(done));
            }
            buffer.reset();
            SendOVMsg(SCANMSG_DEBUG, u" __ScanFile, heap free");
        }
    }
    file.close();
    return 1;
}

}  // namespace

int32_t __ScanFile(char16_t* path, const char16_t* extra) {
    return ScanFileAt(path, extra, nullptr);
}

int32_t ScanListedFile(char16_t* path, const char16_t* extra,
                       const platform::EntryInFolder& entry) {
    return ScanFileAt(path, extra, &entry);
}
