#include "app/scan/custom_scan_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/image_button.h"
#include "app/shell/prompts.h"

CustomScanDialog::CustomScanDialog(QWidget* parent) : QDialog(parent) {
    LogEntry(u"OVCustomScanProc");
    setObjectName("dialog149");
    setWindowTitle("Custom System Scout");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 12, 14, 12);
    root->setSpacing(10);
    root->addWidget(new QLabel("Choose one file or one folder to scan:", this));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    const struct {
        int editId;
        int pickId;
        const char* label;
        const char* button;
        QStyle::StandardPixmap icon;
    } rows[] = {{1048, 1055, "File:", "Choose File...", QStyle::SP_FileIcon},
                {1049, 1056, "Folder:", "Choose Folder...", QStyle::SP_DirIcon}};
    int row = 0;
    for (const auto& r : rows) {
        grid->addWidget(new QLabel(r.label, this), row, 0);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString("id%1").arg(r.editId));
        edit->setReadOnly(true);
        edit->setMinimumWidth(320);
        grid->addWidget(edit, row, 1);
        auto* pick = new QPushButton(style()->standardIcon(r.icon), r.button, this);
        pick->setObjectName(QString("id%1").arg(r.pickId));
        const int id = r.pickId;
        connect(pick, &QPushButton::clicked, this, [this, id] { onCommand(id); });
        grid->addWidget(pick, row, 2);
        (r.editId == 1048 ? m_file : m_folder) = edit;
        ++row;
    }
    grid->setColumnStretch(1, 1);
    root->addLayout(grid);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* start = new ImageButton(1026, artwork::kScanStart,
                                  artwork::naturalSize(artwork::kScanStart), {}, this);
    start->setToolTip("Scan the chosen file or folder");
    connect(start, &QAbstractButton::clicked, this, [this] { onCommand(1026); });
    buttons->addWidget(start);
    root->addLayout(buttons);
}

int CustomScanDialog::onCommand(int id, int) {
    LogEntry(u"OVCustomScanProc");
    switch (id) {
        case 1:
        case 2:
            done(id);
            return 1;
        case 1055:
        case 1002: {
            m_targets.chooseFile({});
            m_file->clear();
            m_folder->clear();
            const std::u16string picked = PickedPathToWindows(
                prompts().openFile(this, u"Choose a file to scan", kCustomScanFileFilter));
            m_targets.chooseFile(picked);
            m_file->setText(QString::fromStdU16String(m_targets.file()));
            return 1;
        }
        case 1056:
        case 1003: {
            m_targets.chooseFolder({});
            m_file->clear();
            m_folder->clear();
            const std::u16string picked =
                PickedPathToWindows(prompts().chooseFolder(this, u"Choose a folder to scan"));
            m_targets.chooseFolder(picked);
            m_folder->setText(QString::fromStdU16String(m_targets.folder()));
            return 1;
        }
        case 1026:
            done(1);
            return 1;
        default:
            return 0;
    }
}

int32_t OVCustomScanProc(QWidget* owner, std::u16string& file, std::u16string& folder) {
    CustomScanDialog dialog(owner);
    const int32_t result = prompts().execDialog(dialog);
    file = result == 1 ? dialog.targets().file() : std::u16string();
    folder = result == 1 ? dialog.targets().folder() : std::u16string();
    return result;
}
