#include "app/schedule/schedule_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/schedule/job_editor_dialog.h"
#include "app/schedule/jobs_folder.h"
#include "app/schedule/schedule_art_qt.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/prompts.h"

namespace {

QString named(int id) { return QString("id%1").arg(id); }

constexpr int kColumnWidth = 128;
constexpr int kLocalNameColumn = 5;

}  // namespace

ScanScheduleDialog::ScanScheduleDialog(std::u16string jobsFolder, QWidget* parent)
    : QDialog(parent), m_model(std::move(jobsFolder), this) {
    setObjectName("dialog144");
    setWindowTitle("Orvane - Scan Schedule.");
    setWindowIcon(artwork::appIcon());
    gAppLog.Write(u"Schedual:: Init Calls");

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 10);
    root->setSpacing(8);
    root->addWidget(new ScheduleBanner("Scan Schedule", this));
    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 0, 12, 0);
    body->setSpacing(8);
    root->addLayout(body);

    auto* settings = new QGroupBox("Schedule Settings: ", this);
    auto* settingsBox = new QVBoxLayout(settings);
    m_list = new QTreeWidget(settings);
    m_list->setObjectName(named(schedlist::kJobList));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setAllColumnsShowFocus(true);
    QStringList headings;
    for (const char16_t* heading : schedlist::kColumns) headings << QString::fromUtf16(heading);
    m_list->setHeaderLabels(headings);
    for (int column = 0; column < 6; ++column) m_list->setColumnWidth(column, kColumnWidth);
    m_list->setMinimumSize(6 * kColumnWidth / 1.3, 170);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { onListDoubleClick(); });
    settingsBox->addWidget(m_list);
    body->addWidget(settings);

    auto* alert = new QGroupBox("Scan Alert:", this);
    auto* alertGrid = new QGridLayout(alert);
    m_alerts = new QCheckBox(
        "Enable scan email alerts (Send Email When Job Done and Threats Found).", alert);
    m_alerts->setObjectName(named(schedlist::kEmailAlerts));
    alertGrid->addWidget(m_alerts, 0, 0, 1, 2);
    alertGrid->addWidget(new QLabel("Email Address: ", alert), 1, 0);
    m_email = new QLineEdit(alert);
    m_email->setObjectName(named(schedlist::kEmailAddress));
    m_email->setMaxLength(511);
    m_email->setText(QString::fromStdU16String(ScheduleList::ReadEmailAddress()));
    alertGrid->addWidget(m_email, 1, 1);
    body->addWidget(alert);

    auto* buttons = new QHBoxLayout;
    const struct {
        int id;
        int bitmap;
        const char* caption;
    } pictures[] = {{schedlist::kStoreEmail, 217, "Save Alert"},
                    {schedlist::kAdd, 218, "Add Job"},
                    {schedlist::kDelete, 219, "Delete Job"},
                    {2, 183, "Close"}};
    buttons->addStretch(1);
    for (const auto& picture : pictures) {
        auto* button = new SchedulePictureButton(picture.id, picture.bitmap, picture.caption, this);
        const int id = picture.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { onCommand(id, 0); });
        buttons->addWidget(button);
    }
    body->addLayout(buttons);

    (void)m_model.LoadOVActiveJobs();
    fillList();
    resize(sizeHint().expandedTo(QSize(6 * kColumnWidth + 72, 0)));
}

QWidget* ScanScheduleDialog::control(int id) const { return findChild<QWidget*>(named(id)); }

void ScanScheduleDialog::fillList() {
    m_list->clear();
    for (const JobRow& row : m_model.rows()) {
        auto* item = new QTreeWidgetItem(m_list);
        const std::u16string* columns[6] = {&row.name,   &row.type,    &row.frequency,
                                            &row.status, &row.nextRun, &row.localName};
        for (int column = 0; column < 6; ++column)
            item->setText(column, QString::fromStdU16String(*columns[column]));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
}

QString ScanScheduleDialog::selectedLocalName() const {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return {};
    return selected.front()->text(kLocalNameColumn).left(511);
}

bool ScanScheduleDialog::selectJob(const QString& localName) {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->text(kLocalNameColumn) == localName) {
            m_list->setCurrentItem(item);
            item->setSelected(true);
            return true;
        }
    }
    return false;
}

int ScanScheduleDialog::onCommand(int id, int code) {
    gAppLog.Write(u"Schedual:: Command Calls: %d", id);
    switch (id) {
        case schedlist::kAdd: {
            SchduleJobDialog editor(m_model.jobsFolder(), this);
            (void)prompts().execDialog(editor);
            (void)m_model.LoadOVActiveJobs();
            fillList();
            return 1;
        }
        case schedlist::kDelete: {
            if (code != 0) return 1;
            const QString name = selectedLocalName();
            if (name.isEmpty()) return 1;
            (void)m_model.DeleteJob(name.toStdU16String());
            fillList();
            return 1;
        }
        case schedlist::kStoreEmail:
            (void)ScheduleList::UpdateEmailNotif(m_alerts->isChecked(),
                                                 m_email->text().left(512).toStdU16String());
            return 1;
        case 1:
        case 2:
            done(id);
            return 1;
        default:
            return 0;
    }
}

void ScanScheduleDialog::onListDoubleClick() {
    gAppLog.Write(u"Schedual:: Notify Calls");
    const QString name = selectedLocalName();
    if (name.isEmpty()) return;
    m_model.ShowSelectedJobInfo(m_model.jobsFolder() + u"\\" + name.toStdU16String());
}

int32_t ScanSchedule(QWidget* owner) {
    ScanScheduleDialog dialog(ApplicationJobsFolder(), owner);
    return prompts().execDialog(dialog);
}
