#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <filesystem>

#include "alert/alert_about_dialog.h"
#include "alert/alert_command_line.h"
#include "alert/alert_dialog.h"
#include "alert/alert_window.h"
#include "app/shell/scripted_prompts.h"
#include "launch_probe/launch_record.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace {

TEST(AlertCommandLine, EverythingAfterTheProgramNameIsThePathJoinedWithOneBlank) {
    const struct {
        std::vector<std::string> arguments;
        std::u16string path;
    } cases[] = {
        {{"C:\\home\\a\\my file.exe"}, u"C:\\home\\a\\my file.exe"},
        {{"C:\\home\\a\\my", "file.exe"}, u"C:\\home\\a\\my file.exe"},
        {{"-style", "windows"}, u"-style windows"},
        {{"--help"}, u"--help"},
        {{"C:\\a\nb.exe"}, u"C:\\a\nb.exe"},
        {{"\"C:\\quoted.exe\""}, u"\"C:\\quoted.exe\""},
        {{"C:\\caf\xc3\xa9.exe"}, u"C:\\caf\u00e9.exe"},
        {{}, u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AlertPathFromArguments(c.arguments), c.path);
    }
}

// An infected file in a folder of the test's own, a registry of its own for
// the drive map, and prompts that the test answers.
class AlertTest : public ::testing::Test {
protected:
    void SetUp() override { platform::resetRegistryConnection(); }
    void TearDown() override { platform::resetRegistryConnection(); }

    std::filesystem::path makeInfected(const std::string& relative) {
        const std::filesystem::path file = std::filesystem::path(m_folder.host()) / relative;
        std::filesystem::create_directories(file.parent_path());
        m_folder.writeFile(relative, "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR");
        return file;
    }
    static std::u16string windows(const std::filesystem::path& file) {
        return platform::toWindowsPath(file.string());
    }
    static QString field(AlertDialog& dialog) {
        return dialog.findChild<QLineEdit*>("id1002")->text();
    }
    const ScriptedPrompts::Question& lastQuestion() const { return m_prompts.questions().back(); }

    ovtest::TempFolder m_folder;
    ovtest::ScopedEnv m_registry{"ORVANE_REGISTRY", m_folder.host("registry.db")};
    ScriptedPrompts m_prompts;
};

TEST_F(AlertTest, ShowsTheDialogWithItsControls) {
    AlertDialog dialog(u"C:\\x.exe", m_folder.host(), m_prompts);
    EXPECT_EQ(dialog.objectName(), "dialog129");
    EXPECT_EQ(dialog.windowTitle(), "Orvane - Infected File Found...");
    EXPECT_EQ(dialog.parentWidget(), nullptr);
    EXPECT_NE(dialog.findChild<QLabel*>("picture133"), nullptr);
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains("Infected File Found:"));
    auto* path = dialog.findChild<QLineEdit*>("id1002");
    ASSERT_NE(path, nullptr);
    EXPECT_TRUE(path->isReadOnly());
    EXPECT_EQ(path->text(), "C:\\x.exe");
    for (const auto& [id, text] : {std::pair{1000, "Delete"}, {1001, "Launch"}, {2, "Exit"}}) {
        auto* button = dialog.findChild<QPushButton*>(QString("id%1").arg(id));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), text);
    }
}

TEST_F(AlertTest, APathStartingWithADashOrHoldingALineBreakIsShownAsItCame) {
    for (const std::u16string path : {u"-platform minimal", u"--help", u"C:\\a\nb.exe"}) {
        AlertDialog dialog(path, m_folder.host(), m_prompts);
        EXPECT_EQ(dialog.alert().fieldText(), path);
        EXPECT_EQ(field(dialog).toStdU16String(), path);
        dialog.onCommand(1000, 0);
        EXPECT_EQ(lastQuestion().text, u"Are you sure you want ot delete " + path + u"?");
    }
}

TEST_F(AlertTest, APathWithBlanksIsShownAndDeletedWhole) {
    const auto file = makeInfected("my folder/bad file.exe");
    makeInfected("my folder/bad");  // what a path cut at the blank would name
    const std::u16string path = windows(file);
    AlertDialog dialog(path, m_folder.host(), m_prompts);
    dialog.show();
    EXPECT_EQ(field(dialog).toStdU16String(), path);

    m_prompts.queueAnswer(kAnswerYes);
    EXPECT_EQ(dialog.onCommand(1000, 0), 1);
    ASSERT_EQ(m_prompts.questions().size(), 1u);
    EXPECT_EQ(lastQuestion().caption, u"Delete File - Confirm...");
    EXPECT_EQ(lastQuestion().text, u"Are you sure you want ot delete " + path + u"?");
    EXPECT_EQ(lastQuestion().buttons, PromptButtons::YesNo);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(std::filesystem::exists(file.parent_path() / "bad"));
    EXPECT_TRUE(dialog.alert().deleted());
    EXPECT_EQ(field(dialog).toStdU16String(), path + u" -> Deleted!");
    EXPECT_TRUE(dialog.isVisible());

    // Deleted: Exit ends at once, without a question.
    EXPECT_EQ(dialog.onCommand(2, 0), 1);
    EXPECT_EQ(m_prompts.questions().size(), 1u);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 2);
}

TEST_F(AlertTest, AReadOnlyFileIsDeletedOnTheSecondAttempt) {
    const auto file = makeInfected("read only.exe");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    AlertDialog dialog(windows(file), m_folder.host(), m_prompts);
    m_prompts.queueAnswer(kAnswerYes);
    dialog.onCommand(1000, 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(dialog.alert().deleted());
}

TEST_F(AlertTest, YesAfterTheFileIsGoneClearsTheFlagSoExitAsksAgain) {
    const auto file = makeInfected("gone.exe");
    const std::u16string path = windows(file);
    AlertDialog dialog(path, m_folder.host(), m_prompts);
    dialog.show();
    m_prompts.queueAnswer(kAnswerYes);
    dialog.onCommand(1000, 0);
    ASSERT_TRUE(dialog.alert().deleted());

    m_prompts.queueAnswer(kAnswerYes);
    dialog.onCommand(1000, 0);
    EXPECT_FALSE(dialog.alert().deleted());
    EXPECT_EQ(field(dialog).toStdU16String(), path + u" -> Deleted!");  // unchanged

    m_prompts.queueAnswer(kAnswerNo);
    dialog.onCommand(2, 0);
    EXPECT_EQ(lastQuestion().caption, u"Exit Without Delete...");
    EXPECT_EQ(lastQuestion().text, u"The infected file was NOT deleted, are you sure?");
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(AlertTest, NoAfterASuccessfulDeleteAppendsTheMarkOnceMore) {
    const auto file = makeInfected("twice.exe");
    const std::u16string path = windows(file);
    AlertDialog dialog(path, m_folder.host(), m_prompts);
    m_prompts.queueAnswer(kAnswerYes);
    dialog.onCommand(1000, 0);
    m_prompts.queueAnswer(kAnswerNo);
    dialog.onCommand(1000, 0);
    EXPECT_EQ(field(dialog).toStdU16String(), path + u" -> Deleted! -> Deleted!");
    EXPECT_TRUE(dialog.alert().deleted());
}

TEST_F(AlertTest, ExitWithoutDeleteAsksAndStaysOnNo) {
    const auto file = makeInfected("kept.exe");
    AlertDialog dialog(windows(file), m_folder.host(), m_prompts);
    dialog.show();
    // No to the delete question: nothing is deleted or marked.
    m_prompts.queueAnswer(kAnswerNo);
    dialog.onCommand(1000, 0);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(field(dialog).toStdU16String(), windows(file));

    m_prompts.queueAnswer(kAnswerNo);
    dialog.onCommand(2, 0);
    EXPECT_EQ(lastQuestion().caption, u"Exit Without Delete...");
    EXPECT_TRUE(dialog.isVisible());
    dialog.close();  // the close box is Exit too
    EXPECT_EQ(lastQuestion().caption, u"Exit Without Delete...");
    EXPECT_EQ(m_prompts.questions().size(), 3u);
    EXPECT_TRUE(dialog.isVisible());

    m_prompts.queueAnswer(kAnswerYes);
    dialog.reject();  // Escape
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(std::filesystem::exists(file));
}

// A folder on the path replaced by a link after the alert opened must not
// lead the delete to another file.
TEST_F(AlertTest, AFolderReplacedByALinkDoesNotLeadTheDeleteElsewhere) {
    const auto file = makeInfected("shared/Downloads/bad.exe");
    const auto victim = makeInfected("victim/bad.exe");
    // A folder other users may write, as a home folder's shared corner is.
    ASSERT_EQ(::chmod((std::filesystem::path(m_folder.host()) / "shared").c_str(), 0777), 0);
    AlertDialog dialog(windows(file), m_folder.host(), m_prompts);

    std::filesystem::remove_all(file.parent_path());
    std::filesystem::create_directory_symlink(victim.parent_path(), file.parent_path());
    m_prompts.queueAnswer(kAnswerYes);
    dialog.onCommand(1000, 0);
    EXPECT_TRUE(std::filesystem::exists(victim));
    EXPECT_FALSE(dialog.alert().deleted());
    EXPECT_EQ(field(dialog).toStdU16String(), windows(file));
}

TEST_F(AlertTest, LaunchStartsTheApplicationFromTheProgramFolder) {
    m_folder.makeFolder("program folder");
    const std::filesystem::path program = m_folder.host("program folder") + "/Orvane";
    ASSERT_TRUE(ovtest::installProbe(program));
    AlertDialog dialog(u"C:\\x.exe", m_folder.host("program folder"), m_prompts);
    dialog.show();
    EXPECT_EQ(dialog.onCommand(1001, 0), 1);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(m_prompts.questions().empty());

    ovtest::LaunchRecord record;
    ASSERT_TRUE(ovtest::waitForRecord(program, record));
    EXPECT_EQ(record.arguments, std::vector<std::string>{program.string()});
}

TEST_F(AlertTest, AFailedLaunchIsSilent) {
    AlertDialog dialog(u"C:\\x.exe", m_folder.host("no program here"), m_prompts);
    dialog.show();
    EXPECT_EQ(dialog.onCommand(1001, 0), 1);
    EXPECT_NE(dialog.alert().onLaunch(), 0u);
    EXPECT_TRUE(m_prompts.questions().empty());
    EXPECT_TRUE(dialog.isVisible());
}

TEST(AlertMainWindow, HasMenu109AndTheAboutAccelerators) {
    ScriptedPrompts prompts;
    AlertMainWindow window;
    EXPECT_EQ(window.objectName(), "OVFILEMSG");
    EXPECT_EQ(window.windowTitle(), "ovfilemsg");
    auto* exit = window.findChild<QAction*>("cmd105");
    auto* about = window.findChild<QAction*>("cmd104");
    ASSERT_NE(exit, nullptr);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(exit->text(), "E&xit");
    EXPECT_EQ(about->text(), "&About ...");
    QList<QKeySequence> keys;
    for (QShortcut* shortcut : window.findChildren<QShortcut*>("accel104")) {
        EXPECT_EQ(shortcut->context(), Qt::ApplicationShortcut);
        keys << shortcut->key();
    }
    EXPECT_TRUE(keys.contains(QKeySequence(Qt::ALT | Qt::Key_Question)));
    EXPECT_TRUE(keys.contains(QKeySequence(Qt::ALT | Qt::Key_Slash)));

    about->trigger();
    ASSERT_EQ(prompts.questions().size(), 1u);
    EXPECT_EQ(prompts.questions()[0].text, u"dialog103");
    EXPECT_EQ(prompts.questions()[0].caption, u"About ovfilemsg");
    EXPECT_TRUE(prompts.questions()[0].hasOwner);
    EXPECT_EQ(window.onCommand(9999, 0), 0);
}

TEST(AlertAboutDialog, ShowsTheVersionAndEndsOnOkOrCancel) {
    AlertAboutDialog about;
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains("ovfilemsg, Version 1.0"));
    for (int id : {1, 2}) {
        about.show();
        EXPECT_EQ(about.onCommand(id, 0), 1);
        EXPECT_EQ(about.result(), id);
        EXPECT_FALSE(about.isVisible());
    }
    about.show();
    about.findChild<QPushButton*>("id1")->click();
    EXPECT_EQ(about.result(), 1);
    EXPECT_EQ(about.onCommand(3, 0), 0);
}

}  // namespace
