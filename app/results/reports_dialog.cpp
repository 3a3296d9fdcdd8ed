#include "app/results/reports_dialog.h"

#include <QHBoxLayout>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/results/debug_trace.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/entry_points.h"
#include "app/shell/image_button.h"
#include "app/shell/prompts.h"

ReportsDialog::ReportsDialog(QWidget* parent, std::u16string logsFolder, ReportsList::Viewer viewer)
    : QDialog(parent), m_reports(std::move(logsFolder), std::move(viewer)) {
    LogEntry(u"Reports");
    DebugTrace(u"Reports DLG INIT Start");
    setObjectName("dialog142");
    setWindowTitle("Reports");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 12, 14, 12);
    m_list = new QTreeWidget(this);
    m_list->setObjectName("id1043");
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels({"Name", "Results", "Date"});
    for (int column = 0; column < 3; ++column) m_list->setColumnWidth(column, 256);
    m_list->setMinimumSize(3 * 256 + 20, 240);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { onDoubleClick(); });
    root->addWidget(m_list, 1);

    auto* buttons = new QHBoxLayout;
    struct Command {
        int id;
        int art;
        const char* caption;
    };
    const Command commands[] = {{1026, 1026, "View Report"},
                                {1002, artwork::kArtDeleteAll, "Delete All Logs"},
                                {1003, artwork::kArtRefresh, "Refresh"}};
    for (const auto& [id, art, caption] : commands) {
        auto* button = new ImageButton(id, art, QSize(32, 32), caption, this);
        const int commandId = id;
        connect(button, &QAbstractButton::clicked, this,
                [this, commandId] { onCommand(commandId, 0); });
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    root->addLayout(buttons);

    m_reports.AddReportsToList();
    fill();
    DebugTrace(u"Reports DLG INIT END");
}

void ReportsDialog::fill() {
    m_list->clear();
    for (const ReportsList::Row& row : m_reports.rows()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdU16String(row.name));
        item->setText(1, QString::fromStdU16String(row.results));
        item->setText(2, QString::fromStdU16String(row.date));
    }
}

void ReportsDialog::openFocused(const char16_t* start, const char16_t* middle,
                                const char16_t* end) {
    DebugTrace(start);
    QTreeWidgetItem* focused = m_list->currentItem();
    if (!focused) return;
    DebugTrace(middle);
    m_reports.OpenReportFile(focused->text(0).left(511).toStdU16String());
    DebugTrace(end);
}

void ReportsDialog::onDoubleClick() {
    LogEntry(u"Reports");
    openFocused(u"Reports DLG CMD DBLCLK View Log Start", u"Reports DLG CMD DBLCLK View Log Middle",
                u"Reports DLG CMD DBLCLK View Log End");
}

int ReportsDialog::onCommand(int id, int code) {
    LogEntry(u"Reports");
    if (id == 1 || id == 2) {
        DebugTrace(u"Reports DLG CMD EXIT");
        done(id);
        return 1;
    }
    if (code != 0) return 0;
    if (id == 1026) {
        openFocused(u"Reports DLG CMD View Log Start", u"Reports DLG CMD View Log Middle",
                    u"Reports DLG CMD View Log End");
    } else if (id == 1002) {
        DebugTrace(u"Reports DLG Dell All");
        m_reports.DoDelateAllLogs();
        m_reports.clear();
        m_list->clear();
    } else if (id == 1003) {
        DebugTrace(u"Reports DLG CMD REFRESH");
        m_reports.clear();
        m_list->clear();
        m_reports.AddReportsToList();
        fill();
    }
    return 0;
}

int32_t Reports(QWidget* owner) {
    ReportsDialog dialog(owner);
    return prompts().execDialog(dialog);
}
