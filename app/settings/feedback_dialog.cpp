#include "app/settings/feedback_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings/feedback.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/prompts.h"
#include "common/registry_names.h"
#include "platform/registry.h"

namespace {

constexpr int kSendId = 1087;
constexpr int kStatusId = 1001;

QString idName(int id) { return QString("id%1").arg(id); }

}  // namespace

FeedbackDialog::FeedbackDialog(QWidget* parent) : QDialog(parent) {
    LogEntry(u"FeedBack");
    setObjectName("dialog145");
    setWindowTitle("Feedback");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 14, 16, 12);
    root->setSpacing(10);
    auto* intro = new QLabel("Tell us what you think of Orvane Anti-Malware.", this);
    root->addWidget(intro);

    auto* form = new QFormLayout;
    auto* name = new QLineEdit(this);
    name->setObjectName(idName(1048));
    form->addRow("*Full Name: ", name);
    auto* email = new QLineEdit(this);
    email->setObjectName(idName(1049));
    form->addRow("*Email Address: ", email);
    auto* feedback = new QPlainTextEdit(this);
    feedback->setObjectName(idName(1051));
    feedback->setMinimumSize(360, 140);
    form->addRow("Feedback:", feedback);
    root->addLayout(form);

    auto* status = new QLineEdit(this);
    status->setObjectName(idName(kStatusId));
    status->setReadOnly(true);
    status->setFocusPolicy(Qt::NoFocus);
    root->addWidget(status);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* send = new QPushButton("Send", this);
    send->setObjectName(idName(kSendId));
    send->setDefault(true);
    connect(send, &QPushButton::clicked, this, [this] { onCommand(kSendId, 0); });
    buttons->addWidget(send);
    auto* close = new QPushButton("Close", this);
    close->setObjectName(idName(2));
    connect(close, &QPushButton::clicked, this, [this] { onCommand(2, 0); });
    buttons->addWidget(close);
    root->addLayout(buttons);
}

void FeedbackDialog::setFields(const QString& name, const QString& email, const QString& feedback) {
    findChild<QLineEdit*>(idName(1048))->setText(name);
    findChild<QLineEdit*>(idName(1049))->setText(email);
    findChild<QPlainTextEdit*>(idName(1051))->setPlainText(feedback);
}

QString FeedbackDialog::statusText() const {
    return findChild<QLineEdit*>(idName(kStatusId))->text();
}

int FeedbackDialog::onCommand(int id, int) {
    LogEntry(u"FeedBack");
    if (id == 1 || id == 2) {
        done(id);
        return 1;
    }
    if (id != kSendId) return 0;
    const std::u16string status =
        SubmitFeedback(findChild<QLineEdit*>(idName(1049))->text().toStdU16String(),
                       findChild<QLineEdit*>(idName(1048))->text().toStdU16String(),
                       findChild<QPlainTextEdit*>(idName(1051))->toPlainText().toStdU16String());
    if (!status.empty())
        findChild<QLineEdit*>(idName(kStatusId))->setText(QString::fromStdU16String(status));
    return 1;
}

int32_t CheckForFreeFeedback(QWidget* parent) {
    LogEntry(u"CheckForFreeFeedback");
    const uint32_t state = ReadFeedBackState();
    if (state == kFeedBackGiven) return 1;
    if (state != 0 && state != kFeedBackDue) return 0;
    // Shown only when it can be recorded as shown, so that it comes at most
    // once and not at every start of a machine without the Settings key.
    {
        platform::RegKey key;
        if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key) !=
            0) {
            gAppLog.Write(u"CheckForFreeFeedback: no Settings key, the feedback offer waits");
            return 0;
        }
    }
    {
        FeedbackDialog dialog(parent);
        prompts().execDialog(dialog);
    }
    return WriteFeedBackState(kFeedBackShown) == 0 ? 1 : 0;
}
