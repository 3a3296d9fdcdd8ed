#include "app/results/scan_result_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/results/debug_trace.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/entry_points.h"
#include "app/shell/image_button.h"
#include "app/shell/prompts.h"
#include "app/shell/shell_state.h"

namespace {

constexpr int kColumnWidth = 256;

}  // namespace

ScanResultDialog::ScanResultDialog(const std::u16string& summary, const std::u16string& reportPath,
                                   QWidget* parent, std::u16string quarantineFolder)
    : QDialog(parent), m_results(std::move(quarantineFolder)) {
    LogEntry(u"ScanResult");
    DebugLevelScope level;
    DebugTrace(u"ScanResult:: Init Calls");
    setObjectName("dialog148");
    setWindowTitle("Scan Results");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 12, 14, 12);
    root->setSpacing(10);

    auto* summaryRow = new QHBoxLayout;
    summaryRow->addWidget(new QLabel("Scan Results:  ", this));
    m_summary = new QLineEdit(this);
    m_summary->setObjectName("id1048");
    m_summary->setReadOnly(true);
    summaryRow->addWidget(m_summary, 1);
    root->addLayout(summaryRow);

    m_list = new QTreeWidget(this);
    m_list->setObjectName("id1043");
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels({"Threat Name", "Threat Type", "Threat Location", "Extra"});
    for (int column = 0; column < 4; ++column) m_list->setColumnWidth(column, kColumnWidth);
    m_list->setMinimumSize(4 * kColumnWidth / 2 + 40, 220);
    root->addWidget(m_list, 1);

    auto* actions = new QHBoxLayout;
    struct Action {
        int id;
        int art;
        const char* caption;
    };
    const Action buttons[] = {{1002, artwork::kArtDeleteAll, "Delete All"},
                              {1012, artwork::kArtDeleteSelected, "Delete Selected"},
                              {1026, artwork::kArtQuarantine, "Quarantine Selected"},
                              {1030, artwork::kArtQuarantineAll, "Quarantine All"}};
    for (const auto& [id, art, caption] : buttons) {
        auto* button = new ImageButton(id, art, QSize(32, 32), caption, this);
        const int commandId = id;
        connect(button, &QAbstractButton::clicked, this,
                [this, commandId] { onCommand(commandId, 0); });
        actions->addWidget(button);
    }
    actions->addStretch(1);

    auto* share = new QGroupBox("Share Your Results...", this);
    auto* shareRow = new QHBoxLayout(share);
    // Bitmaps 134, 236, 235 and 234 on 1017, 1025, 1038 and 1039.
    const std::pair<int, int> social[] = {{1017, artwork::kSocial1},
                                          {1025, artwork::kSocial2},
                                          {1038, artwork::kSocial3},
                                          {1039, artwork::kSocial4}};
    for (const auto& [id, art] : social) {
        auto* button = new ImageButton(id, art, QSize(32, 34), {}, share);
        const int commandId = id;
        connect(button, &QAbstractButton::clicked, this,
                [this, commandId] { onCommand(commandId, 0); });
        shareRow->addWidget(button);
    }
    actions->addWidget(share);
    auto* close = new ImageButton(1, 1, QSize(24, 24), "Close", this);
    connect(close, &QAbstractButton::clicked, this, [this] { onCommand(1, 0); });
    actions->addWidget(close, 0, Qt::AlignBottom);
    root->addLayout(actions);

    if (summary.find(u"Scan Finished!") != std::u16string::npos)
        m_summary->setText(QString::fromStdU16String(summary));
    m_results.AddItemToResultToList(reportPath);
    if (!m_results.reportSummary().empty())
        m_summary->setText(QString::fromStdU16String(m_results.reportSummary()));
    for (const ResultsList::Row& row : m_results.rows()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdU16String(row.finding.name));
        item->setText(1, QString::fromStdU16String(row.finding.type));
        item->setText(2, QString::fromStdU16String(row.finding.location));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    resize(sizeHint().expandedTo(QSize(900, 420)));
}

QString ScanResultDialog::summaryText() const { return m_summary->text(); }

bool ScanResultDialog::ask(const char16_t* question) {
    return prompts().messageBox(nullptr, question, u"Orvane", PromptButtons::YesNo,
                                PromptIcon::Question) == kAnswerYes;
}

void ScanResultDialog::takeTicks() {
    auto& rows = m_results.rows();
    for (int i = 0; i < m_list->topLevelItemCount() && i < static_cast<int>(rows.size()); ++i)
        rows[i].checked = m_list->topLevelItem(i)->checkState(0) == Qt::Checked;
}

void ScanResultDialog::showExtras() {
    const auto& rows = m_results.rows();
    for (int i = 0; i < m_list->topLevelItemCount() && i < static_cast<int>(rows.size()); ++i)
        m_list->topLevelItem(i)->setText(3, QString::fromStdU16String(rows[i].extra));
}

int ScanResultDialog::onCommand(int id, int code) {
    LogEntry(u"ScanResult");
    DebugLevelScope level;
    DebugTrace(u"ScanResult:: Command Calls: %d", id);
    if (id == 1 || id == 2) {
        done(id);
        return 1;
    }
    if (code != 0) return 0;
    takeTicks();
    switch (id) {
        case 1002:
            if (ask(u"Are you sure you want to delete all the objects in the list?"))
                m_results.DeleteAllObjectsInList();
            break;
        case 1012:
            if (ask(u"Are you sure you want to delete the select objects in the list?"))
                m_results.DeleteSelectedObjectsInList();
            break;
        case 1026:
            if (ask(u"Are you sure you want to move the select objects to quarantine?"))
                m_results.MoveSelectedObjectsInList();
            break;
        case 1030:
            if (ask(u"Are you sure you want to move all objects to quarantine?"))
                m_results.MoveAllObjectsInList();
            break;
        case 1017:
        case 1025:
        case 1038:
        case 1039:
            DoOpenExtraOVUrl(id);
            break;
        default:
            break;
    }
    showExtras();
    return 0;
}

int32_t ScanResult(QWidget* owner, const char16_t* summary, const char16_t* reportPath) {
    std::u16string path = reportPath ? std::u16string(reportPath) : gShellState.scanReportPath();
    ScanResultDialog dialog(summary ? summary : u"", path, owner);
    return prompts().execDialog(dialog);
}
