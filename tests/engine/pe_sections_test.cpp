#include <gtest/gtest.h>

#include <cstring>

#include "common/scan_codes.h"
#include "engine/engine_test_support.h"

using enginetest::Install;
using enginetest::Recorder;
using enginetest::RequestScope;

namespace {

struct Section {
    std::string name;
    std::string payload;
};

struct PeShape {
    uint32_t lfanew = 0x40;
    uint16_t optionalHeaderSize = 0xE0;
    int sectionCountOverride = -1;
    uint32_t pointerOverride = 0;  // nonzero: every section's PointerToRawData
    std::string signature = std::string("PE\0\0", 4);
    size_t truncateTo = 0;  // nonzero: cut the image to this many bytes
};

void Put16(std::string& s, size_t at, uint16_t v) {
    if (s.size() < at + 2) s.resize(at + 2);
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& s, size_t at, uint32_t v) {
    if (s.size() < at + 4) s.resize(at + 4);
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A PE image: DOS header, NT signature, file header, optional header of the
// given size (zeros), the section table and the sections' raw data.
std::string PeImage(const std::vector<Section>& sections, const PeShape& shape = {}) {
    std::string image(64, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, shape.lfanew);
    const size_t nt = std::max<size_t>(shape.lfanew, 64);
    image.resize(nt, '\0');
    image += shape.signature;
    const uint16_t count = shape.sectionCountOverride >= 0
                               ? static_cast<uint16_t>(shape.sectionCountOverride)
                               : static_cast<uint16_t>(sections.size());
    const size_t fileHeader = image.size();
    image.resize(fileHeader + 20, '\0');
    Put16(image, fileHeader, 0x14C);
    Put16(image, fileHeader + 2, count);
    Put16(image, fileHeader + 16, shape.optionalHeaderSize);
    image.resize(image.size() + shape.optionalHeaderSize, '\0');
    size_t dataAt = image.size() + 40 * sections.size();
    std::string raw;
    for (const Section& s : sections) {
        std::string header(40, '\0');
        std::memcpy(header.data(), s.name.data(), std::min<size_t>(8, s.name.size()));
        Put32(header, 8, static_cast<uint32_t>(s.payload.size()));   // VirtualSize
        Put32(header, 12, 0x1000);                                   // VirtualAddress
        Put32(header, 16, static_cast<uint32_t>(s.payload.size()));  // SizeOfRawData
        Put32(header, 20,
              shape.pointerOverride ? shape.pointerOverride
                                    : static_cast<uint32_t>(dataAt + raw.size()));
        Put32(header, 36, 0x60000020);
        image += header;
        raw += s.payload;
    }
    image += raw;
    if (shape.truncateTo) image.resize(shape.truncateTo);
    return image;
}

const std::vector<Section> kSections = {
    {".text", std::string(64, '\x90')},
    {"x", std::string(16, 'B')},
    {".data", std::string(32, 'A')},
};

}  // namespace

TEST(DeepScan, HashesEachSectionWithANameOfTwoCharactersOrMore) {
    for (int deep : {0, 1}) {
        Install install;
        // The one-character section and .data are listed; only .data can be found.
        install.writeDatabase(enginetest::Md5Upper(kSections[1].payload) + "\r\n" +
                              enginetest::Md5Upper(kSections[2].payload) + "\r\n");
        std::u16string path = install.writeFile("image.exe", PeImage(kSections));
        Recorder recorder;
        RequestScope scope(recorder);
        scope.request.deepScan = deep;
        ASSERT_EQ(LoadDbFileData(), 1);
        UnscrambleDbText();
        ASSERT_TRUE(AllocateInfectionTable());
        EXPECT_EQ(__ScanFile(path.data(), nullptr), 1);
        if (deep) {
            EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 3u);  // the file, .text, .data
            EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG,
                                          u"GetFileSections: SectionHeader name is to short!"));
            EXPECT_TRUE(recorder.contains(
                SCANMSG_DEBUG,
                u"Sig: 17744, File: " + path + u"[2/3] Section Name: .data Size: 32"));
            EXPECT_EQ(recorder.texts(SCANMSG_REPORT_LINE),
                      (std::vector<std::u16string>{u" Infected Generic Malware: " + path +
                                                   u" [(null)]."}));
        } else {
            EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 1u);
            EXPECT_EQ(recorder.count(SCANMSG_REPORT_LINE), 0u);
        }
    }
}

TEST(DeepScan, MalformedHeadersAreSkippedWithATrace) {
    struct Case {
        const char* name;
        std::string image;
        std::u16string trace;
    };
    PeShape farLfanew;
    farLfanew.lfanew = 0x40;
    std::string lfanewPastEnd = PeImage(kSections);
    Put32(lfanewPastEnd, 0x3C, 0x7FFFFFF0);
    std::string lfanewWraps = PeImage(kSections);
    Put32(lfanewWraps, 0x3C, 0xFFFFFFFE);
    PeShape tableOutside;
    tableOutside.optionalHeaderSize = 0xFFFF;
    tableOutside.truncateTo = 0x200;
    PeShape truncatedTable;
    truncatedTable.truncateTo = 0x40 + 24 + 0xE0 + 40 + 10;
    PeShape badPointer;
    badPointer.pointerOverride = 0x7FFFFFF0;
    PeShape tooMany;
    tooMany.sectionCountOverride = 97;
    PeShape none;
    none.sectionCountOverride = 0;
    PeShape notPe;
    notPe.signature = std::string("NE\0\0", 4);
    const Case cases[] = {
        {"short", "MZ", u"GetFileSections: read dos header!\n"},
        {"not MZ", std::string(64, 'Z'), u"GetFileSections: IMAGE_DOS_SIGNATURE!\n"},
        {"e_lfanew past the end", lfanewPastEnd,
         u"GetFileSections: ImageNtHeader is NULL err: 193"},
        {"e_lfanew wraps", lfanewWraps, u"GetFileSections: ImageNtHeader is NULL err: 193"},
        {"not PE", PeImage(kSections, notPe), u"GetFileSections: ImageNtHeader is NULL err: 193"},
        {"table outside", PeImage(kSections, tableOutside),
         u"GetFileSections: section table outside the file (offset 65623, 3 sections), skipped"},
        {"table cut short", PeImage(kSections, truncatedTable),
         u"GetFileSections: section table outside the file (offset 312, 3 sections), skipped"},
        {"raw data outside", PeImage(kSections, badPointer),
         u"GetFileSections: section 0 lies outside the file (64 bytes at 2147483632), skipped"},
        {"97 sections", PeImage(kSections, tooMany), u" GetFileSections Sig: 17744, SecNum: 97"},
        {"no sections", PeImage(kSections, none), u" GetFileSections Sig: 17744, SecNum: 0"},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        RequestScope scope(recorder);
        const auto* data = reinterpret_cast<const uint8_t*>(c.image.data());
        // What it returns says nothing (0 on every path): the hashing it
        // did not do and the trace it sent say what happened.
        (void)HashImageSections(data, c.image.size(), static_cast<int64_t>(c.image.size()),
                                u"C:\\bad.exe", nullptr);
        EXPECT_EQ(recorder.count(SCANMSG_OBJECT_TICK), 0u) << c.name;
            EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, c.trace)) << c.name;
        }
    }
