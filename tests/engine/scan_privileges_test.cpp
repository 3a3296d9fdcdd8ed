// The scan threads keep only the privileges a scan uses: reading every file
// and looking into every process. The thread that started the scan keeps
// all of its own.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>

#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "engine/walker_sandbox_support.h"

namespace {

namespace fs = std::filesystem;
using namespace walker_test;

// One capability line ("CapEff", "CapPrm", "CapBnd") of the calling thread.
std::optional<uint64_t> ThreadCapabilities(const std::string& line) {
    std::ifstream status("/proc/thread-self/status");
    std::string text;
    while (std::getline(status, text)) {
        if (text.rfind(line + ":", 0) == 0) return std::stoull(text.substr(line.size() + 1), 0, 16);
    }
    return std::nullopt;
}

constexpr uint64_t kScanCapabilities =
    (uint64_t{1} << CAP_DAC_READ_SEARCH) | (uint64_t{1} << CAP_SYS_PTRACE);

TEST(ScanPrivileges, ScanThreadsKeepOnlyReadingAndProcessInspection) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: only root holds the scan's privileges";
    const std::optional<uint64_t> before = ThreadCapabilities("CapEff");
    ASSERT_TRUE(before);
    if ((*before & kScanCapabilities) != kScanCapabilities)
        GTEST_SKIP() << "this root lacks the capabilities of the scan's privileges";

    ScanSandbox box;
    const fs::path drive = box.folder("drive");
    if (!box.mapDrive('X', drive))
        GTEST_SKIP() << "the drive map does not follow HKLM\\SYSTEM\\MountedDevices";
    box.plant(drive / "one.exe", "a file to scan");
    box.setSetting(names::kSmartExt, 0);

    std::optional<uint64_t> effective, permitted, bounding;
    bool seenOnScanThread = false;
    ScanRecord record = box.runFull(u"X:\\", [&](uint32_t code, const std::u16string&) {
        // The report line comes from the scan thread, in the middle of the scan.
        if (code != SCANMSG_REPORT_LINE || seenOnScanThread) return;
        seenOnScanThread = true;
        effective = ThreadCapabilities("CapEff");
        permitted = ThreadCapabilities("CapPrm");
        bounding = ThreadCapabilities("CapBnd");
    });
    ASSERT_EQ(record.findings("x:\\one.exe"), 1);
    ASSERT_TRUE(seenOnScanThread);
    ASSERT_TRUE(effective && permitted && bounding);
    EXPECT_EQ(*effective, kScanCapabilities) << std::hex << *effective;
    EXPECT_EQ(*permitted, kScanCapabilities) << std::hex << *permitted;
    EXPECT_EQ(*bounding & ~kScanCapabilities, 0u) << std::hex << *bounding;
    EXPECT_EQ(ThreadCapabilities("CapEff"), before) << "the caller's thread lost privileges";

    // The privilege check at the start still passes for the next scan.
    ScanRecord again = box.runFull(u"X:\\");
    EXPECT_EQ(again.findings("x:\\one.exe"), 1);
}

}  // namespace
