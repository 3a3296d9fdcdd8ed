// The Reports dialog (142): every scan report in the list 1043 with its
// count and date; 1026 (or a double click) opens the focused report in the
// text viewer, 1002 deletes all logs, 1003 reloads. A thin binding over
// ReportsList.
#pragma once
#include <QDialog>
#include <string>

#include "app/results/reports_list.h"

class QTreeWidget;

class ReportsDialog : public QDialog {
public:
    explicit ReportsDialog(QWidget* parent = nullptr, std::u16string logsFolder = kLogsFolder,
                           ReportsList::Viewer viewer = {});

    int onCommand(int id, int code);
    // The list's double click.
    void onDoubleClick();
    void reject() override { onCommand(2, 0); }

    QTreeWidget* list() const { return m_list; }

private:
    void fill();
    void openFocused(const char16_t* start, const char16_t* middle, const char16_t* end);

    ReportsList m_reports;
    QTreeWidget* m_list;
};
