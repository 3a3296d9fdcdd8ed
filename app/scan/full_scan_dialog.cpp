#include "app/scan/full_scan_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/image_button.h"
#include "app/shell/prompts.h"

FullScanDialog::FullScanDialog(QWidget* parent) : QDialog(parent) {
    LogEntry(u"OVFullScanProc");
    setObjectName("dialog137");
    setWindowTitle("Full System Scout");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 12, 14, 12);
    root->setSpacing(10);
    root->addWidget(new QLabel("Select the drives to scan:", this));

    m_list = new QTreeWidget(this);
    m_list->setObjectName("id1043");
    m_list->setColumnCount(1);
    m_list->setHeaderLabels({"Drive"});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->header()->resizeSection(0, 66);
    m_list->setMinimumSize(260, 160);
    root->addWidget(m_list, 1);

    // InitFullScanDriverList: one item per drive root, in the system's order.
    LogEntry(u"InitFullScanDriverList");
    m_targets.load();
    for (size_t i = 0; i < m_targets.size(); ++i) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdU16String(m_targets.root(i)));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* start = new ImageButton(1002, artwork::kScanStart,
                                  artwork::naturalSize(artwork::kScanStart), {}, this);
    start->setToolTip("Scan the ticked drives");
    connect(start, &QAbstractButton::clicked, this, [this] { onCommand(1002); });
    buttons->addWidget(start);
    root->addLayout(buttons);
}

void FullScanDialog::readChecks() {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        m_targets.setChecked(static_cast<size_t>(i),
                             m_list->topLevelItem(i)->checkState(0) != Qt::Unchecked);
}

bool FullScanDialog::tick(const std::u16string& root, bool checked) {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->text(0).toStdU16String() != root) continue;
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        return true;
    }
    return false;
}

int FullScanDialog::onCommand(int id, int) {
    LogEntry(u"OVFullScanProc");
    if (id == 1 || id == 2) {
        done(id);
        return 1;
    }
    if (id == 1002) {
        readChecks();
        if (m_targets.start()) done(1);
        return 1;
    }
    return 0;
}

int32_t OVFullScanProc(QWidget* owner, std::u16string& driveList) {
    FullScanDialog dialog(owner);
    const int32_t result = prompts().execDialog(dialog);
    driveList = result == 1 ? dialog.targets().driveList() : std::u16string();
    return result;
}
