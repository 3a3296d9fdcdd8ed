#include "app/schedule/job_editor.h"

#include "app/shell/app_log.h"
#include "common/job_file.h"
#include "common/scan_codes.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

// The description buffer holds 512 units with its terminator.
constexpr size_t kDescriptionUnits = 511;

int32_t typeCode(int32_t button) {
    switch (button) {
        case jobedit::kFullScout:
            return names::kScanTypeFull;
        case jobedit::kCustomScout:
            return names::kScanTypeCustom;
        default:
            return names::kScanTypeThreat;
    }
}

std::u16string cut(std::u16string text, size_t units) {
    if (text.size() > units) text.resize(units);
    return text;
}

}  // namespace

JobEditor::JobEditor(std::u16string jobsFolder) : m_jobsFolder(std::move(jobsFolder)) {}

void JobEditor::Start(const std::u16string& dailyTimeText) {
    LogEntry(u"SchduleJob");
    name = u"Scan Type";
    typeButton = jobedit::kThreatScout;
    intervalButton = jobedit::kDaily;
    dailyTime = dailyTimeText;
    description = platform::format16(u"Scan Type, Threat Scout, Daily at: %s", dailyTime.c_str());
}

int32_t JobEditor::OnCommand(int32_t id) {
    switch (id) {
        case jobedit::kThreatScout:
        case jobedit::kFullScout:
        case jobedit::kCustomScout:
            typeButton = id;
            UpdateOVSchedDesc();
            return 0;
        case jobedit::kDaily:
        case jobedit::kWeekly:
            intervalButton = id;
            UpdateOVSchedDesc();
            return 0;
        case jobedit::kShutdown:
            UpdateOVSchedDesc();
            return 0;
        case jobedit::kSave:
            (void)SaveOVSchdJob();
            return 1;
        case jobedit::kCancel:
            return 2;
        default:
            return 0;
    }
}

void JobEditor::UpdateOVSchedDesc() {
    LogEntry(u"UpdateOVSchedDesc");
    const bool daily = intervalButton != jobedit::kWeekly;
    std::u16string typePart;
    std::u16string whenPart;
    if (daily) {
        typePart = u", Daily At: " + dailyTime;
        whenPart = dailyTime;
    } else {
        switch (typeButton) {
            case jobedit::kFullScout:
                typePart = u", Full System Scout ";
                break;
            case jobedit::kCustomScout:
                typePart = u", Custom Scout ";
                break;
            default:
                typePart = u", Threat Scout ";
                break;
        }
        whenPart = u", Weekly At: ";
        for (int day = 0; day < 7; ++day) {
            if (days[day]) whenPart += std::u16string(u", ") + jobfile::weekdayName(day);
        }
    }
    description =
        cut(name + u" " + typePart + u" " + whenPart +
                (shutdown ? u" System Shutdown is Enable" : u" System Shutdown is Disable"),
            kDescriptionUnits);
}

int32_t JobEditor::SaveOVSchdJob() {
    LogEntry(u"SaveOVSchdJob");
    jobfile::JobFields job;
    job.name = cut(name, jobfile::kMaxNameUnits);
    job.description = cut(description, jobfile::kMaxValueUnits);
    job.type = typeCode(typeButton);
    job.weekly = intervalButton == jobedit::kWeekly;
    job.time = job.weekly ? weeklyTime : dailyTime;
    for (int day = 0; day < 7; ++day) job.days[day] = days[day];
    job.shutdown = shutdown;

    platform::File file;
    std::u16string path;
    std::u16string chosen;
    for (int slot = 0; slot < jobfile::kSlotCount; ++slot) {
        chosen = jobfile::slotFileName(slot);
        path = m_jobsFolder + u"\\" + chosen;
        const uint32_t status = platform::createFileNoPlantedLink(
            path, platform::kShareRead | platform::kShareWrite, file);
        if (status == platform::kErrorSuccess) break;
        if (status != platform::kErrorFileExists) {
            gAppLog.Write(u"SaveOVSchdJob=> Create file [%s] return error %d", path.c_str(),
                          int(status));
            return 0;
        }
    }
    if (!file.isOpen()) return 0;  // all ten names are taken

    const std::string bytes = jobfile::jobFileBytes(job);
    uint32_t written = 0;
    const uint32_t status = file.write(bytes.data(), static_cast<uint32_t>(bytes.size()), written);
    file.close();
    if (status != platform::kErrorSuccess || written != bytes.size()) {
        // A half-written job would be read with lost or mixed values.
        gAppLog.Write(u"SaveOVSchdJob=> Write file [%s] return error %d", path.c_str(),
                      int(status != 0 ? status : platform::kErrorDiskFull));
        (void)platform::deleteFileNoPlantedLink(path);
        return 0;
    }
    m_saved = chosen;
    return 1;
}
