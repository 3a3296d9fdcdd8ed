// The "data" record: its exact bytes, and how a check changes it.
#include "service/scan_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "common/registry_names.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/service_sandbox_support.h"
#include "service/service_state.h"

namespace svctest {
namespace {

void writeRecord(const std::u16string& text, size_t bytes = 2048) {
    std::string data(bytes, '\0');
    std::memcpy(data.data(), text.data(), std::min(text.size() * 2, bytes));
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, names::kDataKey, key), 0u);
    ASSERT_EQ(key.setValue(names::kValueData, platform::kRegBinary, data.data(),
                           static_cast<uint32_t>(data.size())),
              0u);
}

std::string rawRecord() {
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, key), 0u);
    std::string data(4096, '\0');
    uint32_t size = 4096, type = 0;
    EXPECT_EQ(key.queryValue(names::kValueData, &type, data.data(), &size), 0u);
    EXPECT_EQ(type, platform::kRegBinary);
    data.resize(size);
    return data;
}

TEST(ScanRecord, ChecksChangeTheRecordAsTheTableSays) {
    ServiceSandbox sandbox;
    ovsvc::resetServiceState();
    writeRecord(u"7|1|C:\\a.txt|C:\\bad.exe");
    struct Step {
        const char16_t* path;
        uint32_t verdict;
        const char* expected;
    } const steps[] = {
        {u"C:\\b.txt", 0, "8|1|C:\\b.txt|C:\\bad.exe"},
        {u"C:\\c.exe", 1, "9|2|C:\\c.exe|C:\\c.exe"},
        {u"C:\\d.bin", 0x80090016, "10|2|C:\\d.bin|C:\\c.exe"},  // provider failure: not infected
    };
    for (const Step& step : steps) {
        EXPECT_EQ(ovsvc::UpdateScanRecord(step.path, step.verdict), 0u);
        // An infection reaches the registry at once; a clean check may be
        // held until the write interval is over.
        if (step.verdict == 1) {
            EXPECT_EQ(sandbox.dataRecord(), step.expected);
        }
        ovsvc::FlushScanRecord();
        EXPECT_EQ(sandbox.dataRecord(), step.expected);
        const std::string raw = rawRecord();
        ASSERT_EQ(raw.size(), 2048u);
        // Zero-padded UTF-16LE.
        std::u16string text = platform::toUtf16(step.expected);
        EXPECT_EQ(std::memcmp(raw.data(), text.data(), text.size() * 2), 0);
        EXPECT_EQ(raw.find_first_not_of('\0', text.size() * 2), std::string::npos);
    }
}

// A burst of checks: the registry value may lag behind the checks held,
// never by an infection, and is whole once flushed; a value changed by
// another program while nothing is held is the one the next check adds to.
TEST(ScanRecord, ABurstReachesTheRegistryWholeAndAnInfectionAtOnce) {
    ServiceSandbox sandbox;
    ovsvc::resetServiceState();
    writeRecord(u"0|0||");
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ovsvc::UpdateScanRecord(u"C:\\f" + platform::toUtf16(std::to_string(i)), 0), 0u);
    EXPECT_LE(std::strtol(sandbox.dataRecord().c_str(), nullptr, 10), 1000);
    EXPECT_LE(ovsvc::ScanRecordDueIn(), ovsvc::kScanRecordWriteInterval);
    ovsvc::FlushScanRecord();
    EXPECT_EQ(sandbox.dataRecord(), "1000|0|C:\\f999|");
    EXPECT_EQ(ovsvc::ScanRecordDueIn(), std::chrono::milliseconds::max());
    ASSERT_EQ(ovsvc::UpdateScanRecord(u"C:\\g", 0), 0u);
    ASSERT_EQ(ovsvc::UpdateScanRecord(u"C:\\bad.exe", 1), 0u);
    EXPECT_EQ(sandbox.dataRecord(), "1002|1|C:\\bad.exe|C:\\bad.exe");

    writeRecord(u"50|3|C:\\x|C:\\y");
    ASSERT_EQ(ovsvc::UpdateScanRecord(u"C:\\z", 0), 0u);
    ovsvc::FlushScanRecord();
    EXPECT_EQ(sandbox.dataRecord(), "51|3|C:\\z|C:\\y");
}

TEST(ScanRecord, AMissingOrOversizedValueIsNotWritten) {
    ServiceSandbox sandbox;
    ovsvc::resetServiceState();
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, key), 0u);
    ASSERT_EQ(key.deleteValue(names::kValueData), 0u);
    EXPECT_EQ(ovsvc::UpdateScanRecord(u"C:\\x", 0), 1u);
    uint32_t size = 0;
    EXPECT_EQ(key.queryValue(names::kValueData, nullptr, nullptr, &size), 2u);

    writeRecord(u"1|0|a|", 3000);
    EXPECT_EQ(ovsvc::UpdateScanRecord(u"C:\\x", 0), 1u);
    EXPECT_EQ(rawRecord().size(), 3000u);
}

TEST(ScanRecord, ALongTextIsCutAt1024UnitsWithoutTerminator) {
    ovsvc::ScanRecordFields fields;
    fields.checked = 1;
    fields.lastChecked = std::u16string(2000, u'x');
    const std::string bytes = ovsvc::formatScanRecord(fields);
    ASSERT_EQ(bytes.size(), 2048u);
    EXPECT_EQ(bytes[2046], 'x');
    EXPECT_EQ(bytes[2047], '\0');  // the high byte of 'x'
    ovsvc::ScanRecordFields back =
        ovsvc::parseScanRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(back.checked, 1);
    EXPECT_EQ(back.lastChecked.size(), 1024u - 4u);  // "1|0|" comes first
}

TEST(ScanRecord, FieldsAreReadAsTheyStand) {
    struct Case {
        const char16_t* text;
        int32_t checked, infected;
        const char16_t* lastChecked;
        const char16_t* lastInfected;
    } const cases[] = {
        {u"0|0||", 0, 0, u"", u""},
        {u"", 0, 0, u"", u""},
        {u"12|3|C:\\a|C:\\b|extra", 12, 3, u"C:\\a", u"C:\\b"},
        {u"x|y|z", 0, 0, u"z", u""},
        {u"99999999999|-5|p|q", 2147483647, -5, u"p", u"q"},
        {u"4|1|C:\\pipe|d.exe|C:\\e", 4, 1, u"C:\\pipe", u"d.exe"},  // a "|" shifts the fields
    };
    for (const Case& c : cases) {
        std::u16string text = c.text;
        ovsvc::ScanRecordFields fields =
            ovsvc::parseScanRecord(reinterpret_cast<const uint8_t*>(text.data()), text.size() * 2);
        EXPECT_EQ(fields.checked, c.checked) << platform::toUtf8(text);
        EXPECT_EQ(fields.infected, c.infected) << platform::toUtf8(text);
        EXPECT_EQ(fields.lastChecked, c.lastChecked) << platform::toUtf8(text);
        EXPECT_EQ(fields.lastInfected, c.lastInfected) << platform::toUtf8(text);
    }
}

}  // namespace
}  // namespace svctest
