// The feedback dialog (145): full name 1048, e-mail address 1049, feedback
// 1051, the status line 1001, Send 1087 and Close 2. It stays open after a
// sending, whatever came of it.
#pragma once
#include <QDialog>

class FeedbackDialog : public QDialog {
public:
    explicit FeedbackDialog(QWidget* parent = nullptr);

    // 1 and 2 end the dialog with that id; 1087 checks and sends. 1 when
    // handled, else 0.
    int onCommand(int id, int code);

    void setFields(const QString& name, const QString& email, const QString& feedback);
    QString statusText() const;

    void reject() override { onCommand(2, 0); }
};

// Shows the dialog once: 1 when FeedBack holds 1359 or the offer was just
// shown and recorded as 1358; 0 otherwise (a stored 1358 among them).
int32_t CheckForFreeFeedback(QWidget* parent);
