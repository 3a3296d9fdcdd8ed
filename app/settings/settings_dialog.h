// The Program Settings dialog (140): the seventeen flag boxes, the disabled
// language box 1062, the hidden monitoring group, the Save picture 1050 and
// the close picture 1. Escape does not close it.
#pragma once
#include <QDialog>

#include "app/settings/settings_store.h"

class QCheckBox;

class SettingsDialog : public QDialog {
public:
    // Loads the boxes from the Settings key.
    explicit SettingsDialog(QWidget* parent = nullptr);

    // 1050 (code 0) saves and ends the dialog with 1050; 1 ends it with 1
    // without saving. Returns 1 when the command was handled, else 0.
    int onCommand(int id, int code);

    QCheckBox* box(int controlId) const;
    // What the boxes show now.
    SettingsBoxes boxes() const;

    void reject() override {}

protected:
    // The window's close command ends the dialog with 0, saving nothing.
    void closeEvent(QCloseEvent* event) override;

private:
    void showBoxes(const SettingsBoxes& boxes);
};

// Runs the dialog modally through Prompts; its result.
int32_t Settings(QWidget* owner);
