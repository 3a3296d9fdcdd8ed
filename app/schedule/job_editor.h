// The job editor (dialog 214) without widgets: the state of its controls,
// what each command does to it, the description it builds, and the save of
// a new job file. The dialog (job_editor_dialog.h) copies its widgets into
// this state before a command and back after it.
#pragma once
#include <cstdint>
#include <string>

namespace jobedit {

// Control and command ids of dialog 214.
inline constexpr int32_t kSave = 1;
inline constexpr int32_t kCancel = 2;
inline constexpr int32_t kName = 1048;
inline constexpr int32_t kDescription = 1049;
inline constexpr int32_t kThreatScout = 1030;
inline constexpr int32_t kFullScout = 1031;
inline constexpr int32_t kCustomScout = 1037;
inline constexpr int32_t kDaily = 1057;
inline constexpr int32_t kWeekly = 1058;
inline constexpr int32_t kSunday = 1003;  // .. 1009 Saturday
inline constexpr int32_t kShutdown = 1010;
inline constexpr int32_t kDailyTime = 1060;
inline constexpr int32_t kWeeklyTime = 1061;

}  // namespace jobedit

class JobEditor {
public:
    // jobsFolder: where new job files go (Windows form, no trailing "\").
    explicit JobEditor(std::u16string jobsFolder);

    // The editor's start for a new job: Name "Scan Type", Threat Scout and
    // Daily checked, the description of that daily time.
    void Start(const std::u16string& dailyTimeText);

    // A command of the dialog: 0 to stay open, else the result to close
    // with (1 after a save, whatever the save gave; 2 for cancel).
    int32_t OnCommand(int32_t id);

    // Rebuilds the description from the name, type, interval and days.
    void UpdateOVSchedDesc();

    // Writes the job into the first free slot file: 1 when written, 0 when
    // all ten names are taken or the file could not be made or written (a
    // file that could not be written whole is removed again).
    int32_t SaveOVSchdJob();

    // Control state.
    std::u16string name;
    std::u16string description;
    int32_t typeButton = jobedit::kThreatScout;
    int32_t intervalButton = jobedit::kDaily;
    bool days[7] = {};
    bool shutdown = false;
    std::u16string dailyTime;
    std::u16string weeklyTime;

    // The file name the last successful save used ("ovjob1.ovj").
    const std::u16string& savedFileName() const { return m_saved; }
    const std::u16string& jobsFolder() const { return m_jobsFolder; }

private:
    std::u16string m_jobsFolder;
    std::u16string m_saved;
};
