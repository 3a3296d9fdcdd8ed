// The Scan Schedule dialog (144) without widgets: the job list read from the
// job files, one job's information box, the delete of a job after the
// question, and the e-mail notice setting. Message boxes go through
// Prompts, owned by the widget given as owner (may be null).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class QWidget;

namespace schedlist {

// Control and command ids of dialog 144.
inline constexpr int32_t kAdd = 3;
inline constexpr int32_t kDelete = 1078;
inline constexpr int32_t kStoreEmail = 1076;
inline constexpr int32_t kEmailAlerts = 1077;
inline constexpr int32_t kEmailAddress = 1048;
inline constexpr int32_t kJobList = 1043;

// The list's six column headings, in their order.
inline constexpr const char16_t* kColumns[6] = {u"Auto Scan", u"Type",     u"Frequency",
                                                u"Status",    u"Next Run", u"Local Name"};

}  // namespace schedlist

// One row of the list: the six columns.
struct JobRow {
    std::u16string name;       // "Auto Scan": the Name value
    std::u16string type;       // "Threat Scout", "Full System Scout", "Custom Scout"
    std::u16string frequency;  // "Daily" or "Weekly"
    std::u16string status;     // the status text
    std::u16string nextRun;    // the time text as stored
    std::u16string localName;  // the job file's name
};

class ScheduleList {
public:
    ScheduleList(std::u16string jobsFolder, QWidget* owner);

    // Rebuilds the rows from the job files, in the folder's listing order;
    // a file that cannot be read gets an "ERROR" box and is left out.
    // Returns the number of rows.
    int32_t LoadOVActiveJobs();
    const std::vector<JobRow>& rows() const { return m_rows; }

    // Shows one job (path of its file) in an information box, or the
    // "ERROR" box when the file cannot be read.
    void ShowSelectedJobInfo(const std::u16string& path);

    // Asks whether to delete the job in that file; on Yes deletes it and
    // reloads the list. 1 when deleted.
    int32_t DeleteJob(const std::u16string& localName);

    // The e-mail notice setting: with the box ticked stores "eMail" (unless
    // the address has fewer than 3 characters) and "Notifire" 1; unticked
    // "Notifire" 0. 1 when stored, 0 when nothing was.
    static int32_t UpdateEmailNotif(bool alertsTicked, const std::u16string& address);
    // "eMail" as stored (at most 512 bytes); empty when missing.
    static std::u16string ReadEmailAddress();

    // The information box's caption and text for a job file's text.
    static std::u16string InformationCaption(const std::u16string& path);
    static std::u16string InformationText(const std::u16string& jobText);
    // A row from a job file's text.
    static JobRow RowFor(const std::u16string& fileName, const std::u16string& jobText);

    const std::u16string& jobsFolder() const { return m_jobsFolder; }

private:
    void showOpenError(const std::u16string& what, uint32_t error);

    std::u16string m_jobsFolder;
    QWidget* m_owner;
    std::vector<JobRow> m_rows;
};
