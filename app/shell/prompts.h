// Every message box, file or folder picker and modal dialog of the desktop
// application is opened through Prompts, so that a test can answer them in
// advance and read what was asked. The default implementation shows the real
// Qt windows; ScriptedPrompts (scripted_prompts.h) answers from a queue.
#pragma once
#include <cstdint>
#include <string>

class QWidget;
class QDialog;

// Buttons of a message box and the answers, numbered as the dialog results
// of the other programs (1 OK, 2 Cancel, 6 Yes, 7 No).
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptIcon { None, Information, Warning, Error, Question };

inline constexpr int32_t kAnswerOk = 1;
inline constexpr int32_t kAnswerCancel = 2;
inline constexpr int32_t kAnswerYes = 6;
inline constexpr int32_t kAnswerNo = 7;

class Prompts {
public:
    virtual ~Prompts() = default;

    // A message box; owner may be null (a box without owner). Returns the
    // answer: kAnswerOk, kAnswerCancel, kAnswerYes or kAnswerNo.
    virtual int32_t messageBox(QWidget* owner, const std::u16string& text,
                               const std::u16string& caption, PromptButtons buttons,
                               PromptIcon icon = PromptIcon::None) = 0;

    // A file to open; filter as Qt writes it ("Logs (*.log)"). Empty when
    // the user cancels.
    virtual std::u16string openFile(QWidget* owner, const std::u16string& title,
                                    const std::u16string& filter) = 0;

    // A folder; empty when the user cancels.
    virtual std::u16string chooseFolder(QWidget* owner, const std::u16string& title) = 0;

    // Runs a dialog modally and returns its result code.
    virtual int32_t execDialog(QDialog& dialog) = 0;
};

// The Prompts in force: the one given to setPrompts, else the Qt one.
Prompts& prompts();
// Replaces the Prompts in force (not owned); null goes back to the Qt one.
void setPrompts(Prompts* replacement);
