// GetFileSections: the deep scan hashes each section of a PE image apart.
// The headers come from a hostile file, so every offset and size is checked
// against the file's length before anything is read.
#include <algorithm>
#include <string>
#include <vector>

#include "common/scan_codes.h"
#include "engine/byte_reader.h"
#include "engine/engine_internal.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

constexpr uint64_t kDosHeaderBytes = 64;
constexpr uint64_t kLfanewOffset = 0x3C;
constexpr uint64_t kFileHeaderBytes = 20;
constexpr uint64_t kSectionHeaderBytes = 40;
constexpr uint16_t kDosSignature = 0x5A4D;  // "MZ"
constexpr uint32_t kNtSignature = 0x4550;   // "PE\0\0"
constexpr uint16_t kMaxSections = 96;
// The deep scan runs on files the scanner has read whole; a larger file is
// not held in memory twice.
constexpr uint64_t kMaxImageBytes = 64u * 1024 * 1024;

struct SectionHeader {
    char name[9] = {};
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
    uint32_t pointerToRelocations = 0;
    uint32_t pointerToLinenumbers = 0;
    uint16_t numberOfRelocations = 0;
    uint16_t numberOfLinenumbers = 0;
    uint32_t characteristics = 0;
};

bool ReadSectionHeader(const ByteReader& image, uint64_t at, SectionHeader& out) {
    const uint8_t* name = image.bytes(at, 8);
    if (!name) return false;
    std::copy(name, name + 8, out.name);
    return image.u32(at + 8, out.virtualSize) && image.u32(at + 12, out.virtualAddress) &&
           image.u32(at + 16, out.sizeOfRawData) && image.u32(at + 20, out.pointerToRawData) &&
           image.u32(at + 24, out.pointerToRelocations) &&
           image.u32(at + 28, out.pointerToLinenumbers) &&
           image.u16(at + 32, out.numberOfRelocations) &&
           image.u16(at + 34, out.numberOfLinenumbers) && image.u32(at + 36, out.characteristics);
}

// Reads the whole image; the file was opened by the caller.
uint32_t ReadImage(platform::File& file, uint64_t size, std::vector<uint8_t>& out) {
    if (size > kMaxImageBytes) return platform::kErrorNotEnoughMemory;
    out.assign(static_cast<size_t>(size), 0);
    uint64_t done = 0;
    while (done < size) {
        WaitWhilePaused();
        uint32_t got = 0;
        uint32_t error = file.read(out.data() + done, static_cast<uint32_t>(size - done), got);
        if (error != 0) return error;
        if (got == 0) break;
        done += got;
    }
    out.resize(static_cast<size_t>(done));
    return 0;
}

// The steps of GetFileSections after the open.
int32_t SectionsOfOpenFile(platform::File& file, const char16_t* path, const char16_t* extra) {
    uint64_t fileSize = 0;
    if (file.size(fileSize) != 0) fileSize = 0;
    int64_t budget = static_cast<int64_t>(fileSize);
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: Open file ok");

    std::vector<uint8_t> bytes;
    if (ReadImage(file, fileSize, bytes) != 0) {
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: CreateFileMapping!\n");
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: Mapfile ok");
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: mapview ok");
    return HashImageSections(bytes.data(), bytes.size(), budget, path, extra);
}

}  // namespace

int32_t GetFileSections(const char16_t* path, const char16_t* extra) {
    if (!path) return 0;
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: File %s", path);

    // Read access only: a file that does not open for reading is not opened
    // for writing instead.
    platform::File file;
    uint32_t error = platform::File::open(path, platform::kGenericRead, platform::kShareRead,
                                          platform::Disposition::OpenExisting, file);
    if (error != 0) {
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: File %s, err: %d", path,
                  static_cast<int>(error));
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections:  Open file! -> %s", path);
        return 0;
    }
    return SectionsOfOpenFile(file, path, extra);
}

int32_t GetFileSectionsOf(platform::File& file, const char16_t* path, const char16_t* extra) {
    if (!path) return 0;
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: File %s", path);
    if (file.seek(0, platform::SeekOrigin::Begin) != 0) {
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: File %s, err: %d", path,
                  static_cast<int>(platform::lastError()));
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections:  Open file! -> %s", path);
        return 0;
    }
    return SectionsOfOpenFile(file, path, extra);
}

int32_t HashImageSections(const uint8_t* data, size_t size, int64_t budget, const char16_t* path,
                          const char16_t* extra) {
    const ByteReader image(data, size);

    uint16_t dosSignature = 0;
    uint32_t lfanew = 0;
    if (!image.contains(0, kDosHeaderBytes) || !image.u16(0, dosSignature) ||
        !image.u32(kLfanewOffset, lfanew)) {
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: read dos header!\n");
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: read ok");
    if (dosSignature != kDosSignature) {
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: IMAGE_DOS_SIGNATURE!\n");
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: unmap ok");
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: pi->err: %d",
              static_cast<int>(platform::lastError()));

    // The NT headers: signature and file header must lie inside the file.
    uint32_t signature = 0;
    uint16_t sectionCount = 0;
    uint16_t optionalHeaderSize = 0;
    if (!image.contains(lfanew, 4 + kFileHeaderBytes) || !image.u32(lfanew, signature) ||
        signature != kNtSignature || !image.u16(lfanew + 4 + 2, sectionCount) ||
        !image.u16(lfanew + 4 + 16, optionalHeaderSize)) {
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: ImageNtHeader is NULL err: %d",
                  static_cast<int>(platform::kErrorBadExeFormat));
        return 0;
    }
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: pi ok");
    SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: psh ok");
    const uint64_t sectionTable =
        static_cast<uint64_t>(lfanew) + 4 + kFileHeaderBytes + optionalHeaderSize;
    SendOVMsg(SCANMSG_DEBUG, u" GetFileSections Sig: %d, SecNum: %d", static_cast<int>(signature),
              static_cast<int>(sectionCount));

    if (sectionCount < 1 || sectionCount > kMaxSections || signature != kNtSignature) return 0;
    if (!image.contains(sectionTable, kSectionHeaderBytes * sectionCount)) {
        SendOVMsg(SCANMSG_DEBUG,
                  u"GetFileSections: section table outside the file (offset %d, %d sections), "
                  u"skipped",
                  static_cast<int>(sectionTable), static_cast<int>(sectionCount));
        return 0;
    }

    for (uint16_t i = 0; i < sectionCount; ++i) {
        SectionHeader section;
        ReadSectionHeader(image, sectionTable + kSectionHeaderBytes * i, section);
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: Sections %d", static_cast<int>(i));
        uint32_t size = std::min(section.sizeOfRawData, section.virtualSize);
        SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: Sections Size %d", static_cast<int>(size));
        if (std::char_traits<char>::length(section.name) < 2) {
            SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: SectionHeader name is to short!");
            size = 0;
        }
        budget -= lfanew;
        if (static_cast<int64_t>(size) > budget) {
            SendOVMsg(SCANMSG_DEBUG, u"GetFileSections: cbsize is bigger then the file size!!");
            continue;
        }
        if (size == 0) continue;
        SendOVMsg(
            SCANMSG_DEBUG,
            u"File: %s[%d] PhysicalAddress: %d, VirtualSize: %d, NumberOfLinenumbers: %d, "
            u"NumberOfRelocations: %d,  PointerToLinenumbers: %d, PointerToRawData: %d, "
            u"PointerToRelocations: %d, VirtualAddress: %d, Characteristics: %d",
            path, static_cast<int>(i), static_cast<int>(section.virtualSize),
            static_cast<int>(section.virtualSize), static_cast<int>(section.numberOfLinenumbers),
            static_cast<int>(section.numberOfRelocations),
            static_cast<int>(section.pointerToLinenumbers),
            static_cast<int>(section.pointerToRawData),
            static_cast<int>(section.pointerToRelocations),
            static_cast<int>(section.virtualAddress), static_cast<int>(section.characteristics));
        const uint8_t* data = image.bytes(section.pointerToRawData, size);
        if (!data) {
            SendOVMsg(SCANMSG_DEBUG,
                      u"GetFileSections: section %d lies outside the file (%d bytes at %d), "
                      u"skipped",
                      static_cast<int>(i), static_cast<int>(size),
                      static_cast<int>(section.pointerToRawData));
            continue;
        }
        // Section names are 8 single-byte characters, not always terminated.
        std::string rawName(section.name, std::char_traits<char>::length(section.name));
        std::u16string sectionName = platform::fromAnsi(rawName);
        SendOVMsg(SCANMSG_DEBUG, u"Sig: %d, File: %s[%d/%d] Section Name: %s Size: %d",
                  static_cast<int>(signature), path, static_cast<int>(i),
                  static_cast<int>(sectionCount), sectionName.c_str(), static_cast<int>(size));
        GenerateCryptoMd5Buffer(data, size, path, extra);
    }
    return 0;
}
