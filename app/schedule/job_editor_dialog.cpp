#include "app/schedule/job_editor_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "app/schedule/schedule_art_qt.h"
#include "app/shell/artwork.h"

namespace {

const int kTypeIds[3] = {jobedit::kThreatScout, jobedit::kFullScout, jobedit::kCustomScout};
const char* kTypeTexts[3] = {"Threat Scout", "Full System Scout", "Custom Scout"};
const char* kDayTexts[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                            "Thursday", "Friday", "Saturday"};

QString named(int id) { return QString("id%1").arg(id); }

QTimeEdit* timePicker(int id, QWidget* parent) {
    auto* picker = new QTimeEdit(QTime::currentTime(), parent);
    picker->setObjectName(named(id));
    picker->setLocale(QLocale::c());
    picker->setDisplayFormat(JobTimePickerFormat());
    return picker;
}

}  // namespace

QString JobTimePickerFormat() {
    const QString format = QLocale().timeFormat(QLocale::LongFormat);
    const bool twelveHours = format.contains('a', Qt::CaseInsensitive);
    return twelveHours ? QStringLiteral("h:mm:ss AP") : QStringLiteral("HH:mm:ss");
}

SchduleJobDialog::SchduleJobDialog(std::u16string jobsFolder, QWidget* parent)
    : QDialog(parent), m_editor(std::move(jobsFolder)) {
    setObjectName("dialog214");
    setWindowTitle("Orvane - Add/Edit Job");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 10);
    root->setSpacing(8);
    root->addWidget(new ScheduleBanner("Add/Edit Job", this));

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 0, 12, 0);
    body->setSpacing(8);
    root->addLayout(body);

    auto* info = new QGroupBox("Job Information: ", this);
    auto* infoGrid = new QGridLayout(info);
    infoGrid->addWidget(new QLabel("Name:", info), 0, 0, Qt::AlignRight);
    m_name = new QLineEdit(info);
    m_name->setObjectName(named(jobedit::kName));
    m_name->setMaxLength(511);
    infoGrid->addWidget(m_name, 0, 1);
    infoGrid->addWidget(new QLabel("Description: ", info), 1, 0, Qt::AlignRight | Qt::AlignTop);
    m_description = new QPlainTextEdit(info);
    m_description->setObjectName(named(jobedit::kDescription));
    m_description->setFixedHeight(58);
    infoGrid->addWidget(m_description, 1, 1);
    body->addWidget(info);

    auto* middle = new QHBoxLayout;
    auto* type = new QGroupBox("Job Type:", this);
    auto* typeBox = new QVBoxLayout(type);
    for (int i = 0; i < 3; ++i) {
        m_types[i] = new QRadioButton(kTypeTexts[i], type);
        m_types[i]->setObjectName(named(kTypeIds[i]));
        m_types[i]->setAutoExclusive(false);
        typeBox->addWidget(m_types[i]);
        const int id = kTypeIds[i];
        connect(m_types[i], &QAbstractButton::clicked, this, [this, id] { onCommand(id); });
    }
    typeBox->addStretch(1);
    middle->addWidget(type);

    auto* interval = new QGroupBox("Interval: ", this);
    auto* grid = new QGridLayout(interval);
    m_daily = new QRadioButton("Daily At:", interval);
    m_daily->setObjectName(named(jobedit::kDaily));
    m_daily->setAutoExclusive(false);
    grid->addWidget(m_daily, 0, 0);
    m_dailyTime = timePicker(jobedit::kDailyTime, interval);
    grid->addWidget(m_dailyTime, 0, 1, 1, 2, Qt::AlignLeft);
    m_weekly = new QRadioButton("Weekly", interval);
    m_weekly->setObjectName(named(jobedit::kWeekly));
    m_weekly->setAutoExclusive(false);
    grid->addWidget(m_weekly, 1, 0);
    auto* days = new QGridLayout;
    for (int day = 0; day < 7; ++day) {
        m_days[day] = new QCheckBox(kDayTexts[day], interval);
        m_days[day]->setObjectName(named(jobedit::kSunday + day));
        days->addWidget(m_days[day], day / 4, day % 4);
    }
    grid->addLayout(days, 2, 0, 1, 3);
    grid->addWidget(new QLabel("At ", interval), 3, 0, Qt::AlignRight);
    m_weeklyTime = timePicker(jobedit::kWeeklyTime, interval);
    grid->addWidget(m_weeklyTime, 3, 1, 1, 2, Qt::AlignLeft);
    connect(m_daily, &QAbstractButton::clicked, this, [this] { onCommand(jobedit::kDaily); });
    connect(m_weekly, &QAbstractButton::clicked, this, [this] { onCommand(jobedit::kWeekly); });
    middle->addWidget(interval, 1);
    body->addLayout(middle);

    auto* bottom = new QHBoxLayout;
    m_shutdown = new QCheckBox("Shutdown after scan finish.", this);
    m_shutdown->setObjectName(named(jobedit::kShutdown));
    connect(m_shutdown, &QAbstractButton::clicked, this, [this] { onCommand(jobedit::kShutdown); });
    bottom->addWidget(m_shutdown);
    bottom->addStretch(1);
    auto* save = new SchedulePictureButton(jobedit::kSave, 182, "Save", this);
    auto* cancel = new SchedulePictureButton(jobedit::kCancel, 183, "Cancel", this);
    connect(save, &QAbstractButton::clicked, this, [this] { onCommand(jobedit::kSave); });
    connect(cancel, &QAbstractButton::clicked, this, [this] { onCommand(jobedit::kCancel); });
    bottom->addWidget(save);
    bottom->addWidget(cancel);
    body->addLayout(bottom);

    m_editor.Start(m_dailyTime->text().toStdU16String());
    fromEditor();
    setFixedSize(sizeHint().expandedTo(QSize(560, 0)));
}

QWidget* SchduleJobDialog::control(int id) const { return findChild<QWidget*>(named(id)); }

void SchduleJobDialog::toEditor() {
    m_editor.name = m_name->text().toStdU16String();
    m_editor.description = m_description->toPlainText().toStdU16String();
    for (int day = 0; day < 7; ++day) m_editor.days[day] = m_days[day]->isChecked();
    m_editor.shutdown = m_shutdown->isChecked();
    m_editor.dailyTime = m_dailyTime->text().toStdU16String();
    m_editor.weeklyTime = m_weeklyTime->text().toStdU16String();
}

void SchduleJobDialog::fromEditor() {
    if (m_name->text().toStdU16String() != m_editor.name)
        m_name->setText(QString::fromStdU16String(m_editor.name));
    if (m_description->toPlainText().toStdU16String() != m_editor.description)
        m_description->setPlainText(QString::fromStdU16String(m_editor.description));
    for (int i = 0; i < 3; ++i) m_types[i]->setChecked(m_editor.typeButton == kTypeIds[i]);
    m_daily->setChecked(m_editor.intervalButton == jobedit::kDaily);
    m_weekly->setChecked(m_editor.intervalButton == jobedit::kWeekly);
}

int SchduleJobDialog::onCommand(int id) {
    toEditor();
    const int result = m_editor.OnCommand(id);
    fromEditor();
    if (result != 0) done(result);
    return result;
}
