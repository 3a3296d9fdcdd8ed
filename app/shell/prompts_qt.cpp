// The Prompts that show real windows.
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include "app/shell/prompts.h"

namespace {

class QtPrompts : public Prompts {
public:
    int32_t messageBox(QWidget* owner, const std::u16string& text, const std::u16string& caption,
                       PromptButtons buttons, PromptIcon icon) override {
        QMessageBox box(owner);
        box.setText(QString::fromStdU16String(text));
        box.setWindowTitle(QString::fromStdU16String(caption));
        switch (icon) {
            case PromptIcon::Information:
                box.setIcon(QMessageBox::Information);
                break;
            case PromptIcon::Warning:
                box.setIcon(QMessageBox::Warning);
                break;
            case PromptIcon::Error:
                box.setIcon(QMessageBox::Critical);
                break;
            case PromptIcon::Question:
                box.setIcon(QMessageBox::Question);
                break;
            case PromptIcon::None:
                break;
        }
        switch (buttons) {
            case PromptButtons::Ok:
                box.setStandardButtons(QMessageBox::Ok);
                break;
            case PromptButtons::OkCancel:
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                break;
            case PromptButtons::YesNo:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                break;
            case PromptButtons::YesNoCancel:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
                break;
        }
        switch (box.exec()) {
            case QMessageBox::Yes:
                return kAnswerYes;
            case QMessageBox::No:
                return kAnswerNo;
            case QMessageBox::Cancel:
                return kAnswerCancel;
            default:
                return buttons == PromptButtons::Ok         ? kAnswerOk
                       : buttons == PromptButtons::OkCancel ? kAnswerOk
                                                            : kAnswerCancel;
        }
    }

    std::u16string openFile(QWidget* owner, const std::u16string& title,
                            const std::u16string& filter) override {
        return QFileDialog::getOpenFileName(owner, QString::fromStdU16String(title), QString(),
                                            QString::fromStdU16String(filter))
            .toStdU16String();
    }

    std::u16string chooseFolder(QWidget* owner, const std::u16string& title) override {
        return QFileDialog::getExistingDirectory(owner, QString::fromStdU16String(title))
            .toStdU16String();
    }

    int32_t execDialog(QDialog& dialog) override { return dialog.exec(); }
};

QtPrompts gQtPrompts;
Prompts* gPrompts = nullptr;

}  // namespace

Prompts& prompts() { return gPrompts != nullptr ? *gPrompts : gQtPrompts; }

void setPrompts(Prompts* replacement) { gPrompts = replacement; }
