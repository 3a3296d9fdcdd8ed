// The System Information dialog (159): read-only fields filled once when it
// opens, and the close picture 1085.
#pragma once
#include <QDialog>

#include "app/settings/sysinfo_fields.h"

class SysInfoDialog : public QDialog {
public:
    // Runs the four loaders; a memory failure is reported through Prompts.
    explicit SysInfoDialog(QWidget* parent = nullptr);

    // 1, 2 and 1085 end the dialog with that id. 1 when handled, else 0.
    int onCommand(int id, int code);
    QString fieldText(int id) const;

    void reject() override { onCommand(2, 0); }

private:
    void showFields(const DialogFields& fields);
};

// Runs the dialog modally through Prompts; its result.
int32_t SysInfo(QWidget* owner);
