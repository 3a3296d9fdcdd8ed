// Dialog 214, the job editor ("Orvane - Add/Edit Job"), always for a new
// job: a thin binding of its widgets to JobEditor. Every control keeps its
// id as its object name ("id1048").
#pragma once
#include <QDialog>
#include <QString>

#include "app/schedule/job_editor.h"

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QTimeEdit;

// The display format of the time pickers: the user's locale's clock (12 or
// 24 hours) with seconds, hour first, AM/PM as "AM"/"PM" and ASCII digits,
// so that the text written is the text shown and the schedule watcher
// reads its hour and minute.
QString JobTimePickerFormat();

class SchduleJobDialog : public QDialog {
public:
    SchduleJobDialog(std::u16string jobsFolder, QWidget* parent = nullptr);

    // A command as a click on the control gives it; closes the dialog when
    // the editor says so. Returns the editor's answer (0: stays open).
    int onCommand(int id);

    QWidget* control(int id) const;
    JobEditor& editor() { return m_editor; }
    QTimeEdit* dailyPicker() const { return m_dailyTime; }
    QTimeEdit* weeklyPicker() const { return m_weeklyTime; }

private:
    void toEditor();
    void fromEditor();

    JobEditor m_editor;
    QLineEdit* m_name = nullptr;
    QPlainTextEdit* m_description = nullptr;
    QRadioButton* m_types[3] = {};
    QRadioButton* m_daily = nullptr;
    QRadioButton* m_weekly = nullptr;
    QCheckBox* m_days[7] = {};
    QCheckBox* m_shutdown = nullptr;
    QTimeEdit* m_dailyTime = nullptr;
    QTimeEdit* m_weeklyTime = nullptr;
};
