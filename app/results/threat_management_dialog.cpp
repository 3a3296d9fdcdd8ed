#include "app/results/threat_management_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/entry_points.h"
#include "app/shell/image_button.h"
#include "app/shell/prompts.h"

namespace {

void showError(const std::u16string& text) {
    prompts().messageBox(nullptr, text, u"ERROR", PromptButtons::Ok, PromptIcon::Error);
}

}  // namespace

ThreatManagementDialog::ThreatManagementDialog(QWidget* parent, std::u16string quarantineFolder)
    : QDialog(parent), m_threats(showError, std::move(quarantineFolder)) {
    LogEntry(u"Infected");
    setObjectName("dialog141");
    setWindowTitle("Threat Management");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 12, 14, 12);
    root->setSpacing(8);
    root->addWidget(new QLabel(
        "Threats has been quarantined by Orvane, you may restore or delete them.", this));

    m_list = new QTreeWidget(this);
    m_list->setObjectName("id1043");
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels({"Item", "Date", "Type", "Location"});
    // Wide enough for a path, a date and a location at today's font sizes.
    const int widths[] = {260, 150, 130, 200};
    for (int column = 0; column < 4; ++column) m_list->setColumnWidth(column, widths[column]);
    m_list->setMinimumSize(700, 220);
    root->addWidget(m_list, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(
        new QLabel("If you delete this items they will be removed from your computer.", this), 1);
    auto* remove = new ImageButton(1002, artwork::kArtDeleteAll, QSize(32, 32), "Delete", this);
    connect(remove, &QAbstractButton::clicked, this, [this] { onCommand(1002, 0); });
    bottom->addWidget(remove);
    auto* restore = new ImageButton(1003, artwork::kArtRestore, QSize(32, 32), "Restore", this);
    connect(restore, &QAbstractButton::clicked, this, [this] { onCommand(1003, 0); });
    bottom->addWidget(restore);
    root->addLayout(bottom);

    m_threats.LoadAllQItems();
    for (const QuarantineItem& row : m_threats.rows()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdU16String(row.item));
        item->setText(1, QString::fromStdU16String(row.date));
        item->setText(2, QString::fromStdU16String(row.type));
        item->setText(3, QString::fromStdU16String(row.location));
    }
    resize(sizeHint().expandedTo(QSize(760, 360)));
}

int ThreatManagementDialog::onCommand(int id, int code) {
    LogEntry(u"Infected");
    if (id == 1 || id == 2) {
        done(id);
        return 1;
    }
    if (code != 0) return 0;
    if (id == 1002) m_threats.DoDeleteInfectedFile();
    if (id == 1003) m_threats.DoRestoreItem();
    return 0;
}

int32_t Infected(QWidget* owner) {
    ThreatManagementDialog dialog(owner);
    return prompts().execDialog(dialog);
}
