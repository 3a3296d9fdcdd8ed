#include "app/shell/genmsg_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/counters.h"
#include "app/shell/prompts.h"

GenMsgDialog::GenMsgDialog(const std::u16string& text, QWidget* parent) : QDialog(parent) {
    LogEntry(u"GenMsg");
    setObjectName("dialog150");
    setWindowTitle("Orvane");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 12, 14, 12);
    auto* group = new QGroupBox("Information", this);
    auto* groupLayout = new QVBoxLayout(group);
    m_text = new QPlainTextEdit(group);
    m_text->setObjectName("id1064");
    m_text->setReadOnly(true);
    m_text->setPlainText(QString::fromStdU16String(text));
    m_text->setMinimumSize(320, 90);
    groupLayout->addWidget(m_text);
    root->addWidget(group);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_ok = new QPushButton(QString::fromStdU16String(kGenMsgFirstText), this);
    m_ok->setObjectName("id1");
    m_ok->setDefault(true);
    m_ok->setMinimumWidth(90);
    connect(m_ok, &QPushButton::clicked, this, [this] { onCommand(1, 0); });
    buttons->addWidget(m_ok);
    root->addLayout(buttons);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, [this] { onTimer(); });
    m_timer.start();
}

QString GenMsgDialog::okText() const { return m_ok->text(); }

void GenMsgDialog::onTimer() {
    LogEntry(u"GenMsg");
    std::u16string next;
    bool known = false;
    const std::u16string current = m_ok->text().left(64).toStdU16String();
    if (NextGenMsgText(current, next, known) == GenMsgStep::Close) {
        m_timer.stop();
        done(1);
        return;
    }
    if (known) {
        m_timer.start(1000);
        m_ok->setText(QString::fromStdU16String(next));
    }
}

int GenMsgDialog::onCommand(int id, int code) {
    LogEntry(u"GenMsg");
    if (id == 1 || id == 2) {
        m_timer.stop();
        done(id);
        return 1;
    }
    return 0;
}

int32_t GenMsg(QWidget* owner, const std::u16string& text) {
    GenMsgDialog dialog(text, owner);
    return prompts().execDialog(dialog);
}
