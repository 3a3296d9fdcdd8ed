#include "app/settings/settings_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/settings/picture_button.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/prompts.h"

namespace {

constexpr int kSaveId = 1050;
constexpr int kCloseId = 1;
// The boxes of the hidden monitoring group; 1056 and 1058 are bound to no value.
constexpr int kHiddenGroupIds[] = {1029, 1052};
constexpr std::pair<int, const char*> kUnboundBoxes[] = {{1056, "Activate Network Monitor."},
                                                         {1058, "Activate Memory Monitor."}};

QCheckBox* makeBox(int id, QWidget* parent) {
    const SettingsFlag* flag = nullptr;
    for (const SettingsFlag& f : kSettingsFlags) {
        if (f.controlId == id) flag = &f;
    }
    auto* box = new QCheckBox(QString::fromStdU16String(flag->text), parent);
    box->setObjectName(QString("id%1").arg(id));
    return box;
}

}  // namespace

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
    LogEntry(u"Settings");
    setObjectName("dialog140");
    setWindowTitle("Program Settings");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 14, 16, 12);
    root->setSpacing(10);

    auto* scanGroup = new QGroupBox("Scan Settings: ", this);
    auto* scan = new QGridLayout(scanGroup);
    scan->setVerticalSpacing(6);
    const int scanIds[] = {1032, 1011, 1023, 1016, 1018, 1022, 1020, 1024, 1009, 1027, 1034};
    int row = 0;
    for (int id : scanIds) {
        scan->addWidget(makeBox(id, scanGroup), row % 6, row / 6);
        ++row;
    }
    root->addWidget(scanGroup);

    auto* generalGroup = new QGroupBox("General Settings: ", this);
    auto* general = new QGridLayout(generalGroup);
    const int generalIds[] = {1003, 1010, 1014, 1054};
    row = 0;
    for (int id : generalIds) {
        general->addWidget(makeBox(id, generalGroup), row % 2, row / 2);
        ++row;
    }
    root->addWidget(generalGroup);

    // Still loaded and saved although nobody sees it.
    auto* monitorGroup = new QGroupBox("Monitoring (Restart Software): ", this);
    monitorGroup->setObjectName("monitoringGroup");
    auto* monitor = new QVBoxLayout(monitorGroup);
    for (int id : kHiddenGroupIds) monitor->addWidget(makeBox(id, monitorGroup));
    for (const auto& [id, text] : kUnboundBoxes) {
        auto* box = new QCheckBox(text, monitorGroup);
        box->setObjectName(QString("id%1").arg(id));
        box->setEnabled(false);
        box->setVisible(false);
        monitor->addWidget(box);
    }
    root->addWidget(monitorGroup);
    monitorGroup->setVisible(false);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel("Select Your Language: ", this));
    auto* language = new QComboBox(this);
    language->setObjectName(QString("id%1").arg(kSettingsLanguageCombo));
    language->setEnabled(false);
    language->addItem(QString::fromStdU16String(kSettingsLanguage));
    language->setMinimumWidth(120);
    bottom->addWidget(language);
    bottom->addStretch(1);
    auto* save = new PictureButton(kSaveId, PictureButton::Glyph::Save, "Save", this);
    connect(save, &QAbstractButton::clicked, this, [this] { onCommand(kSaveId, 0); });
    bottom->addWidget(save);
    auto* close = new PictureButton(kCloseId, PictureButton::Glyph::Close, "Close", this);
    connect(close, &QAbstractButton::clicked, this, [this] { onCommand(kCloseId, 0); });
    bottom->addWidget(close);
    root->addLayout(bottom);

    SettingsBoxes loaded;
    (void)LoadSettingFromReg(loaded);
    showBoxes(loaded);
    setFixedSize(sizeHint());
}

QCheckBox* SettingsDialog::box(int controlId) const {
    return findChild<QCheckBox*>(QString("id%1").arg(controlId));
}

void SettingsDialog::showBoxes(const SettingsBoxes& boxes) {
    for (size_t i = 0; i < kSettingsFlags.size(); ++i) {
        // Loading checks boxes and never unchecks one.
        if (boxes.checked[i]) box(kSettingsFlags[i].controlId)->setChecked(true);
    }
    auto* language = findChild<QComboBox*>(QString("id%1").arg(kSettingsLanguageCombo));
    if (!boxes.language.empty()) {
        language->clear();
        language->addItem(QString::fromStdU16String(boxes.language));
    }
}

SettingsBoxes SettingsDialog::boxes() const {
    SettingsBoxes out;
    for (size_t i = 0; i < kSettingsFlags.size(); ++i) {
        out.checked[i] = box(kSettingsFlags[i].controlId)->isChecked();
    }
    auto* language = findChild<QComboBox*>(QString("id%1").arg(kSettingsLanguageCombo));
    out.language = language->currentText().toStdU16String();
    return out;
}

int SettingsDialog::onCommand(int id, int code) {
    LogEntry(u"Settings");
    if (id == kSaveId && code == 0) {
        (void)SaveSettingFromReg(boxes());
        done(kSaveId);
        return 1;
    }
    if (id == kCloseId) {
        done(kCloseId);
        return 1;
    }
    return 0;
}

void SettingsDialog::closeEvent(QCloseEvent* event) {
    LogEntry(u"Settings");
    event->accept();
    done(0);
}

int32_t Settings(QWidget* owner) {
    SettingsDialog dialog(owner);
    return prompts().execDialog(dialog);
}
