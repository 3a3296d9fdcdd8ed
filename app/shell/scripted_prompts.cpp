#include "app/shell/scripted_prompts.h"

#include <QDialog>

ScriptedPrompts::ScriptedPrompts() { setPrompts(this); }

ScriptedPrompts::~ScriptedPrompts() { setPrompts(nullptr); }

void ScriptedPrompts::clear() {
    m_answers.clear();
    m_paths.clear();
    m_handlers.clear();
    m_questions.clear();
}

int32_t ScriptedPrompts::messageBox(QWidget* owner, const std::u16string& text,
                                    const std::u16string& caption, PromptButtons buttons,
                                    PromptIcon) {
    m_questions.push_back({Kind::MessageBox, text, caption, buttons, owner != nullptr});
    if (!m_answers.empty()) {
        const int32_t answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    return (buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoCancel) ? kAnswerNo
                                                                                      : kAnswerOk;
}

std::u16string ScriptedPrompts::openFile(QWidget* owner, const std::u16string& title,
                                         const std::u16string& filter) {
    m_questions.push_back({Kind::OpenFile, filter, title, PromptButtons::Ok, owner != nullptr});
    if (m_paths.empty()) return {};
    std::u16string path = m_paths.front();
    m_paths.pop_front();
    return path;
}

std::u16string ScriptedPrompts::chooseFolder(QWidget* owner, const std::u16string& title) {
    m_questions.push_back({Kind::ChooseFolder, {}, title, PromptButtons::Ok, owner != nullptr});
    if (m_paths.empty()) return {};
    std::u16string path = m_paths.front();
    m_paths.pop_front();
    return path;
}

int32_t ScriptedPrompts::execDialog(QDialog& dialog) {
    m_questions.push_back({Kind::Dialog, dialog.objectName().toStdU16String(),
                           dialog.windowTitle().toStdU16String(), PromptButtons::Ok,
                           dialog.parentWidget() != nullptr});
    if (!m_handlers.empty()) {
        auto handler = std::move(m_handlers.front());
        m_handlers.pop_front();
        return handler(dialog);
    }
    if (!m_answers.empty()) {
        const int32_t answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    return kAnswerCancel;
}
