#include "alert/alert_about_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "alert/dialog_units.h"
#include "app/shell/artwork.h"

AlertAboutDialog::AlertAboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("dialog103");
    setWindowTitle("About ovfilemsg");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 12, 14, 12);
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    auto* icon = new QLabel(this);
    icon->setObjectName("icon");
    icon->setPixmap(artwork::pixmap(artwork::kAppIcon, devicePixelRatioF(), QSize(32, 32)));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QLabel("ovfilemsg, Version 1.0", this);
    text->setObjectName("version");
    row->addWidget(text, 1, Qt::AlignVCenter);
    root->addLayout(row);
    root->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("id1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { onCommand(1, 0); });
    buttons->addWidget(ok);
    root->addLayout(buttons);

    setFixedSize(dialogUnitsToPixels(fontMetrics(), 170, 62).expandedTo(sizeHint()));
}

int AlertAboutDialog::onCommand(int id, int) {
    if (id == 1 || id == 2) {
        done(id);
        return 1;
    }
    return 0;
}
