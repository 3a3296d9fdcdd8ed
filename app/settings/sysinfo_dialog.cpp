#include "app/settings/sysinfo_dialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/settings/picture_button.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/prompts.h"
#include "platform/text.h"

namespace {

constexpr int kCloseId = 1085;

QLineEdit* field(int id, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString("id%1").arg(id));
    edit->setReadOnly(true);
    edit->setMinimumWidth(300);
    return edit;
}

}  // namespace

SysInfoDialog::SysInfoDialog(QWidget* parent) : QDialog(parent) {
    LogEntry(u"SysInfo");
    setObjectName("dialog159");
    setWindowTitle("System Information");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 14, 16, 12);
    root->setSpacing(10);

    auto* systemGroup = new QGroupBox("System Information: ", this);
    auto* system = new QFormLayout(systemGroup);
    system->addRow("Current User: ", field(1070, systemGroup));
    system->addRow("Computer Name: ", field(1002, systemGroup));
    system->addRow("Architecture: ", field(1071, systemGroup));
    for (int id : {1069, 1075, 1076, 1077, 1078, 1079, 1080})
        system->addRow(field(id, systemGroup));
    auto* columns = new QHBoxLayout;
    columns->setSpacing(10);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    root->addLayout(columns);
    left->addWidget(systemGroup);

    auto* osGroup = new QGroupBox("OS Information: ", this);
    auto* os = new QFormLayout(osGroup);
    os->addRow("Major Version:", field(1072, osGroup));
    os->addRow("Minor Version: ", field(1009, osGroup));
    os->addRow("Build Number: ", field(1008, osGroup));
    os->addRow("Service Pack: ", field(1010, osGroup));
    right->addWidget(osGroup);

    auto* memoryGroup = new QGroupBox("Memory Information: ", this);
    auto* memory = new QVBoxLayout(memoryGroup);
    for (int id : {1064, 1050, 1065, 1052, 1063, 1066, 1067, 1068}) {
        memory->addWidget(field(id, memoryGroup));
    }
    right->addWidget(memoryGroup);
    left->addStretch(1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    auto* close = new PictureButton(kCloseId, PictureButton::Glyph::Close, "Close", this);
    connect(close, &QAbstractButton::clicked, this, [this] { onCommand(kCloseId, 0); });
    bottom->addWidget(close);
    root->addLayout(bottom);

    DialogFields fields;
    (void)LoadSystemInfoData(fields);
    uint32_t memoryError = 0;
    if (LoadMemData(fields, &memoryError) == 0) {
        prompts().messageBox(nullptr, platform::format16(kMemoryErrorFormat, int(memoryError)),
                             kMemoryErrorCaption, PromptButtons::Ok, PromptIcon::Error);
    }
    (void)LoadOSInfoData(fields);
    LogEntry(u"LoadHWData");
    (void)LoadExtraData(fields);
    showFields(fields);
}

void SysInfoDialog::showFields(const DialogFields& fields) {
    for (const auto& [id, text] : fields) {
        if (auto* edit = findChild<QLineEdit*>(QString("id%1").arg(id))) {
            edit->setText(QString::fromStdU16String(text));
            edit->setCursorPosition(0);
        }
    }
}

QString SysInfoDialog::fieldText(int id) const {
    auto* edit = findChild<QLineEdit*>(QString("id%1").arg(id));
    return edit != nullptr ? edit->text() : QString();
}

int SysInfoDialog::onCommand(int id, int) {
    LogEntry(u"SysInfo");
    if (id == 1 || id == 2 || id == kCloseId) {
        done(id);
        return 1;
    }
    return 0;
}

int32_t SysInfo(QWidget* owner) {
    SysInfoDialog dialog(owner);
    return prompts().execDialog(dialog);
}
