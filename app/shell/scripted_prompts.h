// Prompts for tests: answers are queued in advance and every question is
// recorded, so a test can check the exact text and caption asked.
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/shell/prompts.h"

class ScriptedPrompts : public Prompts {
public:
    enum class Kind { MessageBox, OpenFile, ChooseFolder, Dialog };

    struct Question {
        Kind kind;
        std::u16string text;     // message text; dialog object name for a dialog
        std::u16string caption;  // caption or title; dialog window title
        PromptButtons buttons = PromptButtons::Ok;
        bool hasOwner = false;
    };

    // Answers are taken in order; without a queued answer a message box
    // answers OK (or No for a Yes/No box), a picker answers "cancelled" and
    // a dialog is closed with 2 (cancel).
    void queueAnswer(int32_t answer) { m_answers.push_back(answer); }
    void queuePath(std::u16string path) { m_paths.push_back(std::move(path)); }
    // The next dialog is handed to this function instead of being run; its
    // result is the dialog's result.
    void queueDialogHandler(std::function<int32_t(QDialog&)> handler) {
        m_handlers.push_back(std::move(handler));
    }

    const std::vector<Question>& questions() const { return m_questions; }
    void clear();

    // Installs itself as the Prompts in force for its lifetime.
    ScriptedPrompts();
    ~ScriptedPrompts() override;

    int32_t messageBox(QWidget* owner, const std::u16string& text, const std::u16string& caption,
                       PromptButtons buttons, PromptIcon icon) override;
    std::u16string openFile(QWidget* owner, const std::u16string& title,
                            const std::u16string& filter) override;
    std::u16string chooseFolder(QWidget* owner, const std::u16string& title) override;
    int32_t execDialog(QDialog& dialog) override;

private:
    std::deque<int32_t> m_answers;
    std::deque<std::u16string> m_paths;
    std::deque<std::function<int32_t(QDialog&)>> m_handlers;
    std::vector<Question> m_questions;
};
