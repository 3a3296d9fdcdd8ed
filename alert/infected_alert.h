// The alert's behaviour without its widgets: the path shown in field 1002,
// the deleted flag, and the Delete, Launch and Exit commands. The dialog
// (alert_dialog.h) binds its widgets to this class; a test drives it
// directly with scripted prompts.
#pragma once
#include <cstdint>
#include <string>

#include "app/shell/prompts.h"

inline constexpr char16_t kDeleteCaption[] = u"Delete File - Confirm...";
inline constexpr char16_t kDeleteQuestion[] = u"Are you sure you want ot delete %s?";
inline constexpr char16_t kExitCaption[] = u"Exit Without Delete...";
inline constexpr char16_t kExitQuestion[] = u"The infected file was NOT deleted, are you sure?";
inline constexpr char16_t kDeletedSuffix[] = u" -> Deleted!";
// The desktop application, in the alert's own folder.
inline constexpr char kApplicationName[] = "Orvane";

class InfectedFileAlert {
public:
    // path: the infected file (Windows form) as it came on the command line.
    // programFolder: the host folder the application is started from.
    InfectedFileAlert(std::u16string path, std::string programFolder, Prompts& prompts);

    const std::u16string& path() const { return m_path; }
    // The text of field 1002: the path, with " -> Deleted!" after each
    // Delete that found the flag set.
    const std::u16string& fieldText() const { return m_fieldText; }
    bool deleted() const { return m_deleted; }

    // Delete (1000): asks, and on Yes deletes the file (a second time after
    // clearing its read-only attribute). A delete that fails twice clears
    // the flag and says nothing. Whenever the flag is then set, the field
    // gets " -> Deleted!" appended. The file is deleted through the call
    // that never follows a link another user planted on the way.
    void onDelete(QWidget* owner);

    // Launch (1001): starts the application from the program folder, not
    // waited for; a failure is silent. Returns the start's error code (0
    // once it runs), for tests.
    uint32_t onLaunch() const;

    // Exit (2, also the close box): true when the alert may end, that is
    // when the file was deleted or the question was answered Yes.
    bool onExit(QWidget* owner);

private:
    bool deleteFile();

    std::u16string m_path;
    std::u16string m_fieldText;
    std::string m_programFolder;
    Prompts& m_prompts;
    bool m_deleted = false;
};
