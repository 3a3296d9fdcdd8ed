#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTreeWidget>

#include "app/schedule/job_editor_dialog.h"
#include "app/schedule/sched_starter_qt.h"
#include "app/schedule/schedule_dialog.h"
#include "app/schedule/schedule_test_support.h"
#include "app/shell/main_dialog.h"
#include "app/shell/shell_state.h"
#include "platform/registry.h"

namespace {

class ScheduleDialogsTest : public ScheduleSandbox {};

TEST_F(ScheduleDialogsTest, TheJobEditorHasItsControlsAndStartsANewJob) {
    SchduleJobDialog dialog(jobsFolder());
    EXPECT_EQ(dialog.objectName(), "dialog214");
    EXPECT_EQ(dialog.windowTitle(), "Orvane - Add/Edit Job");
    for (int id : {1048, 1049, 1030, 1031, 1037, 1057, 1058, 1003, 1004, 1005, 1006, 1007, 1008,
                   1009, 1010, 1060, 1061, 1, 2}) {
        EXPECT_NE(dialog.control(id), nullptr) << id;
    }
    EXPECT_EQ(qobject_cast<QLineEdit*>(dialog.control(1048))->text(), "Scan Type");
    EXPECT_TRUE(qobject_cast<QRadioButton*>(dialog.control(1030))->isChecked());
    EXPECT_TRUE(qobject_cast<QRadioButton*>(dialog.control(1057))->isChecked());
    const QString shown = dialog.dailyPicker()->text();
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(dialog.control(1049))->toPlainText(),
              "Scan Type, Threat Scout, Daily at: " + shown);
    // The picker shows seconds.
    EXPECT_EQ(shown.count(':'), 2) << shown.toStdString();
}

TEST_F(ScheduleDialogsTest, WhatThePickerShowsIsWhatIsWritten) {
    SchduleJobDialog dialog(jobsFolder());
    dialog.weeklyPicker()->setTime(QTime(21, 5, 7));
    qobject_cast<QCheckBox*>(dialog.control(1004))->setChecked(true);
    qobject_cast<QRadioButton*>(dialog.control(1058))->click();
    EXPECT_TRUE(qobject_cast<QRadioButton*>(dialog.control(1058))->isChecked());
    EXPECT_FALSE(qobject_cast<QRadioButton*>(dialog.control(1057))->isChecked());
    qobject_cast<QRadioButton*>(dialog.control(1031))->click();
    EXPECT_FALSE(qobject_cast<QRadioButton*>(dialog.control(1030))->isChecked());
    EXPECT_EQ(dialog.onCommand(1), 1);
    EXPECT_EQ(dialog.result(), 1);

    std::u16string text;
    ASSERT_EQ(jobfile::readJobFile(jobsFolder() + u"\\ovjob0.ovj", text), 0u);
    const std::u16string shown = dialog.weeklyPicker()->text().toStdU16String();
    EXPECT_EQ(jobfile::jobValue(text, u"Weekly"), std::u16string_view(shown + u" "));
    EXPECT_EQ(jobfile::jobValue(text, u"Type"), std::u16string_view(u"1035"));
    EXPECT_EQ(jobfile::jobValue(text, u"Monday"), std::u16string_view(u"1"));
    const jobfile::JobClock clock = jobfile::parseJobTime(shown);
    EXPECT_TRUE(clock.valid);
    EXPECT_EQ(clock.hour, 21);
    EXPECT_EQ(clock.minute, 5);
}

TEST_F(ScheduleDialogsTest, TheTwelveHourPickerIsReadBackAsTheSameTime) {
    SchduleJobDialog dialog(jobsFolder());
    dialog.dailyPicker()->setDisplayFormat("h:mm:ss AP");
    for (const QTime time : {QTime(0, 15, 0), QTime(12, 15, 0), QTime(22, 30, 0)}) {
        dialog.dailyPicker()->setTime(time);
        const jobfile::JobClock clock =
            jobfile::parseJobTime(dialog.dailyPicker()->text().toStdU16String());
        EXPECT_TRUE(clock.valid);
        EXPECT_EQ(clock.hour, time.hour()) << dialog.dailyPicker()->text().toStdString();
        EXPECT_EQ(clock.minute, time.minute());
    }
}

TEST_F(ScheduleDialogsTest, TheScheduleDialogListsAddsShowsAndDeletes) {
    jobfile::JobFields night;
    night.name = u"Night";
    night.time = u"10:30:00 PM";
    writeJob("ovjob0.ovj", night);

    ScanScheduleDialog dialog(jobsFolder());
    EXPECT_EQ(dialog.objectName(), "dialog144");
    EXPECT_EQ(dialog.windowTitle(), "Orvane - Scan Schedule.");
    EXPECT_TRUE(logHas(u"Schedual:: Init Calls\n"));
    QTreeWidget* list = dialog.jobList();
    ASSERT_EQ(list->columnCount(), 6);
    const char* headings[] = {"Auto Scan", "Type", "Frequency", "Status", "Next Run", "Local Name"};
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(list->headerItem()->text(column), headings[column]);
        EXPECT_EQ(list->columnWidth(column), 128);
    }
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(4), "10:30:00 PM");
    for (int id : {1043, 1077, 1048, 1076, 3, 1078, 2})
        EXPECT_NE(dialog.control(id), nullptr) << id;
    EXPECT_FALSE(qobject_cast<QCheckBox*>(dialog.control(1077))->isChecked());

    // Add: the editor opens modally and saves.
    prompts.queueDialogHandler([](QDialog& editor) {
        EXPECT_EQ(editor.objectName(), "dialog214");
        return static_cast<SchduleJobDialog&>(editor).onCommand(1);
    });
    EXPECT_EQ(dialog.onCommand(3), 1);
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_TRUE(logHas(u"Schedual:: Command Calls: 3\n"));

    // A double click without a selection does nothing; with one, the box.
    list->clearSelection();
    dialog.onListDoubleClick();
    EXPECT_EQ(prompts.questions().size(), 1u);  // only the editor so far
    ASSERT_TRUE(dialog.selectJob("ovjob1.ovj"));
    dialog.onListDoubleClick();
    ASSERT_EQ(prompts.questions().size(), 2u);
    EXPECT_EQ(prompts.questions()[1].caption, jobsFolder() + u"\\ovjob1.ovj Information");
    EXPECT_TRUE(logHas(u"Schedual:: Notify Calls\n"));

    // Delete the selected job after Yes.
    prompts.queueAnswer(kAnswerYes);
    EXPECT_EQ(dialog.onCommand(1078), 1);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(5), "ovjob0.ovj");
    EXPECT_FALSE(std::filesystem::exists(jobPath("ovjob1.ovj")));

    // The e-mail setting, then close.
    qobject_cast<QCheckBox*>(dialog.control(1077))->setChecked(true);
    qobject_cast<QLineEdit*>(dialog.control(1048))->setText("me@example.org");
    EXPECT_EQ(dialog.onCommand(1076), 1);
    EXPECT_EQ(ScheduleList::ReadEmailAddress(), u"me@example.org");
    EXPECT_EQ(dialog.onCommand(2), 1);
    EXPECT_EQ(dialog.result(), 2);
}

TEST_F(ScheduleDialogsTest, TheMainDialogOpensTheScheduleAndTakesAScheduledJob) {
    jobfile::JobFields full;
    full.name = u"Full";
    full.type = 1035;
    full.time = u"08:00:00";
    writeJob("ovjob3.ovj", full);

    auto main = std::make_unique<MainDialog>();
    main->show();
    SchedStarter* starter = CurrentSchedStarter();
    ASSERT_NE(starter, nullptr);  // started with the main dialog

    prompts.queueDialogHandler([](QDialog& schedule) {
        EXPECT_EQ(schedule.objectName(), "dialog144");
        return 2;
    });
    main->onCommand(1045, 0);
    ASSERT_EQ(prompts.questions().size(), 1u);

    setSched(u"ovjob3.ovj");
    starter->PollOnce();  // or the poll thread's own round, whichever comes first
    for (int i = 0; i < 6000 && !main->scheduledStartTimerArmed(); ++i) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(main->scheduledStartTimerArmed());
    EXPECT_EQ(gShellState.scheduledStart, 1);
    EXPECT_EQ(schedBytes(), std::string(128, '\0'));

    // The timer's handler: a Full System Scout job selects the full scan.
    main->onScheduledStartTimer();
    EXPECT_EQ(gShellState.scheduledScanType, 1035);
    EXPECT_TRUE(qobject_cast<QRadioButton*>(main->control(1031))->isChecked());
    EXPECT_TRUE(logHas(u"Send Button Message\n"));
    main.reset();
    EXPECT_EQ(CurrentSchedStarter(), nullptr);  // stopped with the main dialog
}

}  // namespace
