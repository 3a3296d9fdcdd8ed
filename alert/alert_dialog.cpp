#include "alert/alert_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "alert/alert_artwork.h"
#include "alert/dialog_units.h"
#include "app/shell/artwork.h"

AlertDialog::AlertDialog(std::u16string path, std::string programFolder, Prompts& prompts,
                         QWidget* parent)
    : QDialog(parent), m_alert(std::move(path), std::move(programFolder), prompts) {
    setObjectName("dialog129");
    setWindowTitle("Orvane - Infected File Found...");
    setWindowIcon(artwork::appIcon());

    const QSize size = dialogUnitsToPixels(fontMetrics(), 305, 225);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 14);
    root->setSpacing(10);

    auto* banner = new QLabel(this);
    banner->setObjectName("picture133");
    const QSize bannerSize(size.width(), size.height() * 38 / 100);
    banner->setPixmap(alert_artwork::banner(bannerSize, devicePixelRatioF()));
    banner->setFixedSize(bannerSize);
    root->addWidget(banner);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(18, 6, 18, 0);
    body->setSpacing(8);
    body->addStretch(1);
    auto* label = new QLabel("Infected File Found:", this);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    body->addWidget(label);
    m_field = new QLineEdit(this);
    m_field->setObjectName("id1002");
    m_field->setReadOnly(true);
    m_field->setText(QString::fromStdU16String(m_alert.fieldText()));
    m_field->setCursorPosition(0);
    label->setBuddy(m_field);
    body->addWidget(m_field);
    body->addStretch(2);
    root->addLayout(body, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(18, 0, 18, 0);
    buttons->addStretch(1);
    const std::pair<int, const char*> commands[] = {
        {1000, "Delete"}, {1001, "Launch"}, {2, "Exit"}};
    for (const auto& [id, text] : commands) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(QString("id%1").arg(id));
        button->setAutoDefault(false);
        button->setMinimumWidth(dialogUnitsToPixels(fontMetrics(), 50, 14).width());
        const int commandId = id;
        connect(button, &QPushButton::clicked, this,
                [this, commandId] { onCommand(commandId, 0); });
        buttons->addWidget(button);
    }
    root->addLayout(buttons);

    setFixedSize(size.expandedTo(sizeHint()));
}

int AlertDialog::onCommand(int id, int) {
    switch (id) {
        case 1000:
            m_alert.onDelete(this);
            m_field->setText(QString::fromStdU16String(m_alert.fieldText()));
            return 1;
        case 1001:
            (void)m_alert.onLaunch();
            return 1;
        case 2:
            if (m_alert.onExit(this)) {
                m_ended = true;
                done(2);
                QCoreApplication::exit(0);
            }
            return 1;
        default:
            return 0;
    }
}

void AlertDialog::closeEvent(QCloseEvent* event) {
    if (!m_ended) onCommand(2, 0);
    if (m_ended) {
        event->accept();
    } else {
        event->ignore();
    }
}
