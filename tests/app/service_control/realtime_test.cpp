// The Real Time Monitor: the "data" record as it reads it, and the dialog's
// fields, timer and service box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <cstring>
#include <thread>

#include "app/service_control/realtime_dialog.h"
#include "app/service_control/realtime_monitor.h"
#include "app/service_control/service_control.h"
#include "app/service_control/svcctl_sandbox_support.h"
#include "common/data_record.h"
#include "common/registry_names.h"
#include "platform/registry.h"
#include "platform/scm.h"

namespace {

using svcctltest::Sandbox;

std::string padded(const std::u16string& text, size_t bytes = 2048) {
    std::string out(std::max(bytes, text.size() * 2), '\0');
    std::memcpy(out.data(), text.data(), text.size() * 2);
    return out;
}

void writeRecord(const std::string& bytes) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, names::kDataKey, key), 0u);
    ASSERT_EQ(key.setValue(names::kValueData, platform::kRegBinary, bytes.data(),
                           static_cast<uint32_t>(bytes.size())),
              0u);
}

struct RecordCase {
    const char* name;
    std::string bytes;
    int32_t checked;
    int32_t infected;
    std::u16string lastChecked;
    std::u16string lastInfected;
};

class DataRecordTable : public ::testing::TestWithParam<RecordCase> {};

TEST_P(DataRecordTable, SplitsIntoFourFields) {
    const RecordCase& c = GetParam();
    const names::DataRecordView view =
        names::ParseDataRecord(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
    EXPECT_EQ(view.checked, c.checked);
    EXPECT_EQ(view.infected, c.infected);
    EXPECT_EQ(view.lastChecked, c.lastChecked);
    EXPECT_EQ(view.lastInfected, c.lastInfected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DataRecordTable,
    ::testing::Values(RecordCase{"Full", padded(u"12|3|C:\\home\\a.txt|C:\\tmp\\bad.exe"), 12, 3,
                                 u"C:\\home\\a.txt", u"C:\\tmp\\bad.exe"},
                      RecordCase{"TwoFields", padded(u"12|3"), 12, 3, u"", u""},
                      RecordCase{"Fresh", padded(u"0|0||"), 0, 0, u"", u""},
                      RecordCase{"Empty", std::string(), 0, 0, u"", u""},
                      // Without a zero after it the last field runs to the end of the data.
                      RecordCase{"Unpadded", padded(u"5|1|a|b", 14), 5, 1, u"a", u"b"},
                      RecordCase{"ExtraBar", padded(u"5|1|a|b|c"), 5, 1, u"a", u"b"},
                      RecordCase{"NotNumbers", padded(u"x|-4z|a|b"), 0, -4, u"a", u"b"},
                      RecordCase{"BeyondRange", padded(u"99999999999|-99999999999||"), 2147483647,
                                 -2147483647 - 1, u"", u""},
                      RecordCase{"OddByte",
                                 std::string("7\0|\0"
                                             "1",
                                             5),
                                 7, 0, u"", u""},
                      RecordCase{"LongPath", padded(u"1|0|" + std::u16string(1500, u'p') + u"|"), 1,
                                 0, std::u16string(1024, u'p'), u""}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.name); });

TEST(ReadRealTimeFigures, RecordValueAndKeyCases) {
    Sandbox sandbox;
    RealTimeFigures figures;
    figures.scannedFiles = 99;
    // No value yet: nothing is set.
    EXPECT_EQ(ReadRealTimeFigures(figures), 0);
    EXPECT_EQ(figures.scannedFiles, 99);
    // A value larger than the 2048 bytes asked for is not read either.
    writeRecord(padded(u"1|1|a|b", 2050));
    EXPECT_EQ(ReadRealTimeFigures(figures), 0);
    EXPECT_EQ(figures.scannedFiles, 99);

    writeRecord(padded(u"12|3|C:\\a.txt|C:\\bad.exe"));
    EXPECT_EQ(ReadRealTimeFigures(figures), 1);
    EXPECT_EQ(figures.scannedFiles, 12);
    EXPECT_EQ(figures.infectedFiles, 3);
    EXPECT_EQ(figures.lastScannedFile, u"C:\\a.txt");
    EXPECT_EQ(figures.lastInfectedFile, u"C:\\bad.exe");

    // The sub-key missing: zero counts and empty paths.
    ASSERT_EQ(platform::deleteTree(platform::RegRoot::LocalMachine, names::kDataKey), 0u);
    EXPECT_EQ(ReadRealTimeFigures(figures), 1);
    EXPECT_EQ(figures.scannedFiles, 0);
    EXPECT_EQ(figures.infectedFiles, 0);
    EXPECT_EQ(figures.lastScannedFile, u"");
    EXPECT_EQ(figures.lastInfectedFile, u"");
}

TEST(RealTimeDialog, ShowsTheRecordAndAnyTimerRefreshes) {
    Sandbox sandbox;
    writeRecord(padded(u"12|3|C:\\a.txt|C:\\bad.exe"));
    sandbox.setFlag(names::kServiceState, 1);
    RealTimeDialog dialog;
    EXPECT_EQ(dialog.controlText(1049), "12");
    EXPECT_EQ(dialog.controlText(1051), "3");
    EXPECT_EQ(dialog.controlText(1048), "C:\\a.txt");
    EXPECT_EQ(dialog.controlText(1050), "C:\\bad.exe");
    EXPECT_EQ(dialog.controlText(1052), "");
    EXPECT_TRUE(dialog.refreshTimerActive());
    auto* box = qobject_cast<QCheckBox*>(dialog.control(1009));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isChecked());
    for (int id : {1016, 1003}) {
        ASSERT_NE(dialog.control(id), nullptr);
        EXPECT_FALSE(dialog.control(id)->isEnabled());
    }

    writeRecord(padded(u"13|3|C:\\b.txt|C:\\bad.exe"));
    dialog.onTimer(4711);  // not the dialog's own timer
    EXPECT_EQ(dialog.controlText(1049), "13");
    EXPECT_EQ(dialog.controlText(1048), "C:\\b.txt");
    EXPECT_TRUE(dialog.refreshTimerActive());

    // A record that cannot be read leaves the fields as they are.
    ASSERT_EQ(platform::deleteTree(platform::RegRoot::LocalMachine, names::kDataKey), 0u);
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::LocalMachine, names::kDataKey, key), 0u);
    dialog.onTimer(kRealTimeTimerId);
    EXPECT_EQ(dialog.controlText(1049), "13");
}

TEST(RealTimeDialog, CloseCommandsEndWithTheirId) {
    Sandbox sandbox;
    for (int id : {1, 2, 1044}) {
        RealTimeDialog dialog;
        EXPECT_EQ(dialog.onCommand(id), 1);
        EXPECT_EQ(dialog.result(), id);
        EXPECT_FALSE(dialog.refreshTimerActive());
    }
}

TEST(RealTimeDialog, TickingStopsTheServiceOffTheDialogThread) {
    Sandbox sandbox;
    sandbox.installStandIn();
    ASSERT_TRUE(sandbox.startStandIn());
    sandbox.setFlag(names::kServiceState, 0);
    RealTimeDialog dialog;
    auto* box = qobject_cast<QCheckBox*>(dialog.control(1009));
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isChecked());

    box->click();  // ticked: stop the service
    EXPECT_TRUE(box->isChecked());
    // Disabled until the request has returned; the dialog's thread is free.
    if (dialog.serviceSwitch().busy()) {
        EXPECT_FALSE(box->isEnabled());
    }
    dialog.serviceSwitch().wait();
    QApplication::processEvents();
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(sandbox.flag(names::kServiceState), 1u);
    for (int i = 0; i < 300 && sandbox.currentState() != platform::kServiceStopped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(sandbox.currentState(), platform::kServiceStopped);

    box->click();  // cleared: start it again
    dialog.serviceSwitch().wait();
    QApplication::processEvents();
    EXPECT_TRUE(box->isEnabled());
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(sandbox.flag(names::kServiceState), 0u);
}

TEST(RealTimeDialog, TickingAStoppedServiceOnlyRecordsTheChoice) {
    Sandbox sandbox;
    sandbox.installStandIn();
    sandbox.setFlag(names::kServiceState, 0);
    RealTimeDialog dialog;
    auto* box = qobject_cast<QCheckBox*>(dialog.control(1009));
    ASSERT_NE(box, nullptr);
    box->click();
    dialog.serviceSwitch().wait();
    QApplication::processEvents();
    EXPECT_EQ(sandbox.flag(names::kServiceState), 1u);
    EXPECT_EQ(sandbox.currentState(), platform::kServiceStopped);
    EXPECT_TRUE(box->isChecked());
}

}  // namespace
