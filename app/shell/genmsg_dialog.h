// The timed message dialog (150): a message in field 1064 and an OK control
// (1) that counts down "OK(30)" ... "OK(0)" and closes the dialog by itself
// one tick after "OK(0)".
#pragma once
#include <QDialog>
#include <QTimer>
#include <string>

class QPlainTextEdit;
class QPushButton;

class GenMsgDialog : public QDialog {
public:
    GenMsgDialog(const std::u16string& text, QWidget* parent = nullptr);

    // One step of timer 11024; tests call it instead of waiting.
    void onTimer();
    // Command 1 or 2 ends the dialog with that id (1); others give 0.
    int onCommand(int id, int code);
    // Escape is command 2.
    void reject() override { onCommand(2, 0); }

    QTimer& timer() { return m_timer; }
    QString okText() const;

private:
    QPlainTextEdit* m_text;
    QPushButton* m_ok;
    QTimer m_timer;
};

// Shows the timed message dialog modally through Prompts; its result.
int32_t GenMsg(QWidget* owner, const std::u16string& text);
