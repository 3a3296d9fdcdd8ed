#include "app/shell/about_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/shell/artwork.h"
#include "app/shell/entry_points.h"
#include "app/shell/image_button.h"

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("dialog106");
    setWindowTitle("About Orvane");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(20, 18, 20, 14);
    root->setSpacing(12);

    auto* head = new QHBoxLayout;
    head->setSpacing(14);
    auto* shield = new QLabel(this);
    shield->setObjectName("picture130");
    shield->setPixmap(artwork::pixmap(artwork::kAppIcon, devicePixelRatioF(), QSize(64, 64)));
    head->addWidget(shield, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* name = new QLabel("Orvane Anti-Malware", this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    name->setFont(big);
    texts->addWidget(name);
    auto* version = new QLabel("Version 1.0.1.320", this);
    version->setObjectName("version");
    texts->addWidget(version);
    auto* blurb = new QLabel("Finds and removes known malware.", this);
    blurb->setStyleSheet("color: #5a6b7d;");
    texts->addWidget(blurb);
    texts->addStretch(1);
    head->addLayout(texts, 1);
    root->addLayout(head);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    root->addWidget(rule);

    auto* follow = new QLabel("Follow Us On Social Media", this);
    follow->setAlignment(Qt::AlignCenter);
    root->addWidget(follow);

    auto* links = new QHBoxLayout;
    links->addStretch(1);
    // Bitmaps 134, 236, 235, 234 on 1017, 1025, 1038, 1039, in that order.
    const std::pair<int, int> social[] = {{1017, artwork::kSocial1},
                                          {1025, artwork::kSocial2},
                                          {1038, artwork::kSocial3},
                                          {1039, artwork::kSocial4}};
    for (const auto& [id, art] : social) {
        auto* button = new ImageButton(id, art, artwork::naturalSize(art), {}, this);
        const int commandId = id;
        connect(button, &QAbstractButton::clicked, this,
                [this, commandId] { onCommand(commandId, 0); });
        links->addWidget(button);
    }
    links->addStretch(1);
    root->addLayout(links);

    auto* bottom = new QHBoxLayout;
    auto* web = new ImageButton(1004, 1004, QSize(24, 24), "Visit our web site", this);
    connect(web, &QAbstractButton::clicked, this, [this] { onCommand(1004, 0); });
    bottom->addWidget(web);
    bottom->addStretch(1);
    auto* close = new ImageButton(1, 1, QSize(24, 24), "Close", this);
    connect(close, &QAbstractButton::clicked, this, [this] { onCommand(1, 0); });
    bottom->addWidget(close);
    root->addLayout(bottom);

    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

int AboutDialog::onCommand(int id, int code) {
    if (id == 1 || id == 2) {
        done(id);
        return 1;
    }
    if (code == 0 && (id == 1004 || id == 1017 || id == 1025 || id == 1038 || id == 1039)) {
        DoOpenExtraOVUrl(id);
    }
    return 0;
}
