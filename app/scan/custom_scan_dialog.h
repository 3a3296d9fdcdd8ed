// The custom-scan dialog (149): one file (edit 1048, picker 1055) or one
// folder (edit 1049, picker 1056) and the start picture (1026). A thin
// binding over CustomScanTargets; the pickers go through Prompts.
#pragma once
#include <QDialog>
#include <string>

#include "app/scan/scan_targets.h"

class QLineEdit;

// The open-file picker's filters: "All" ("*.*", which means every file on
// Windows; "*" adds the names without a dot here) and "Application"
// ("*.EXE", in either case).
inline constexpr char16_t kCustomScanFileFilter[] = u"All (*.* *);;Application (*.EXE *.exe)";

class CustomScanDialog : public QDialog {
public:
    explicit CustomScanDialog(QWidget* parent = nullptr);

    // 1055 (or 1002): pick a file; 1056 (or 1003): pick a folder; 1026:
    // end with 1; 1 and 2 end with that id. 1 when handled.
    int onCommand(int id, int code = 0);
    void reject() override { onCommand(2); }

    const CustomScanTargets& targets() const { return m_targets; }

private:
    CustomScanTargets m_targets;
    QLineEdit* m_file;
    QLineEdit* m_folder;
};

// Shows dialog 149 modally through Prompts, owned by owner; the choice
// when it ended with 1, else both empty. Its result.
int32_t OVCustomScanProc(QWidget* owner, std::u16string& file, std::u16string& folder);
