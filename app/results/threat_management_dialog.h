// The Threat Management dialog (141): the quarantine's records in the list
// 1043, delete (1002) and restore (1003) of them all, each message in an
// "ERROR" box through Prompts. A thin binding over ThreatManagement.
#pragma once
#include <QDialog>
#include <string>

#include "app/results/threat_management.h"

class QTreeWidget;

class ThreatManagementDialog : public QDialog {
public:
    explicit ThreatManagementDialog(QWidget* parent = nullptr,
                                    std::u16string quarantineFolder = kQuarantineFolder);

    int onCommand(int id, int code);
    void reject() override { onCommand(2, 0); }

    QTreeWidget* list() const { return m_list; }
    ThreatManagement& threats() { return m_threats; }

private:
    ThreatManagement m_threats;
    QTreeWidget* m_list;
};
