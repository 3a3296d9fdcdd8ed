// The Scan Results dialog (148): the findings of a scan report in the list
// 1043 (a check box per row), the summary in 1048, the four actions 1002
// (delete all), 1012 (delete ticked), 1026 (quarantine ticked), 1030
// (quarantine all), each after a question through Prompts, the share links
// 1017, 1025, 1038, 1039 and the close image 1. A thin binding over
// ResultsList.
#pragma once
#include <QDialog>
#include <string>

#include "app/results/results_list.h"

class QLineEdit;
class QTreeWidget;

class ScanResultDialog : public QDialog {
public:
    // summary: the scan's summary text, or empty when opened from the main
    // dialog; reportPath: the report to read.
    ScanResultDialog(const std::u16string& summary, const std::u16string& reportPath,
                     QWidget* parent = nullptr,
                     std::u16string quarantineFolder = kQuarantineFolder);

    // A command as the dialog procedure takes it: 1 when the dialog ended,
    // else 0.
    int onCommand(int id, int code);
    void reject() override { onCommand(2, 0); }

    QTreeWidget* list() const { return m_list; }
    QString summaryText() const;
    ResultsList& results() { return m_results; }

private:
    void takeTicks();
    void showExtras();
    bool ask(const char16_t* question);

    ResultsList m_results;
    QTreeWidget* m_list;
    QLineEdit* m_summary;
};
