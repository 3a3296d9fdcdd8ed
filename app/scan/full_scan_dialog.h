// The full-scan dialog (137): the drive list (1043, one "Drive" column with
// a check box per drive) and the start picture (1002). A thin binding over
// FullScanTargets.
#pragma once
#include <QDialog>
#include <string>

#include "app/scan/scan_targets.h"

class QTreeWidget;

class FullScanDialog : public QDialog {
public:
    explicit FullScanDialog(QWidget* parent = nullptr);

    // IDOK (1) and IDCANCEL (2) end the dialog with that id; 1002 takes
    // the ticked drives and ends it with 1, or keeps it open when none is
    // ticked. 1 when handled.
    int onCommand(int id, int code = 0);
    void reject() override { onCommand(2); }

    // Ticks the drive whose root is given ("E:\"); false when it is not listed.
    bool tick(const std::u16string& root, bool checked = true);
    QTreeWidget* driveList() const { return m_list; }
    const FullScanTargets& targets() const { return m_targets; }

private:
    void readChecks();

    FullScanTargets m_targets;
    QTreeWidget* m_list;
};

// Shows dialog 137 modally through Prompts, owned by owner; the drive list
// when it ended with 1, else empty. Its result.
int32_t OVFullScanProc(QWidget* owner, std::u16string& driveList);
