// The alert dialog (129) "Orvane - Infected File Found...": the banner, the
// label, the read-only path field 1002 and the buttons Delete (1000),
// Launch (1001) and Exit (2). Shown modeless without owner; ending it ends
// the program. Its behaviour is InfectedFileAlert's.
#pragma once
#include <QDialog>

#include "alert/infected_alert.h"

class QLineEdit;

class AlertDialog : public QDialog {
public:
    AlertDialog(std::u16string path, std::string programFolder, Prompts& prompts,
                QWidget* parent = nullptr);

    // 1000 Delete, 1001 Launch, 2 Exit. Returns 1 when handled, else 0.
    int onCommand(int id, int code);
    const InfectedFileAlert& alert() const { return m_alert; }

    // Escape and the close box are Exit.
    void reject() override { onCommand(2, 0); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    InfectedFileAlert m_alert;
    QLineEdit* m_field = nullptr;
    bool m_ended = false;
};
