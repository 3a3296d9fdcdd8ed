// Dialog 144, "Orvane - Scan Schedule.": the job list, the e-mail notice
// setting and the add, delete and close pictures; a thin binding of its
// widgets to ScheduleList. Every control keeps its id as its object name.
#pragma once
#include <QDialog>

#include "app/schedule/schedule_list.h"

class QCheckBox;
class QLineEdit;
class QTreeWidget;

class ScanScheduleDialog : public QDialog {
public:
    ScanScheduleDialog(std::u16string jobsFolder, QWidget* parent = nullptr);

    // A command as its control gives it (code 0 for the pictures).
    int onCommand(int id, int code = 0);
    // A double click in the list: the selected job's information.
    void onListDoubleClick();

    QWidget* control(int id) const;
    QTreeWidget* jobList() const { return m_list; }
    ScheduleList& list() { return m_model; }
    // Selects the row of a job file; false when it is not listed.
    bool selectJob(const QString& localName);

private:
    void fillList();
    QString selectedLocalName() const;

    ScheduleList m_model;
    QTreeWidget* m_list = nullptr;
    QCheckBox* m_alerts = nullptr;
    QLineEdit* m_email = nullptr;
};

// Opens the Scan Schedule dialog modally over the owner (the main dialog's
// commands 1045 and 32781). Returns the dialog's result.
int32_t ScanSchedule(QWidget* owner);
