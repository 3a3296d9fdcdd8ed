#include "app/schedule/schedule_list.h"

#include "app/shell/app_log.h"
#include "app/shell/prompts.h"
#include "app/shell/startup.h"
#include "common/job_file.h"
#include "common/registry_names.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr size_t kInformationUnits = 8191;
constexpr uint32_t kEmailBytes = 512;

std::u16string valueOf(const std::u16string& text, std::u16string_view key) {
    std::u16string value(jobfile::jobValue(text, key).value_or(u""));
    if (value.size() > jobfile::kMaxValueUnits) value.resize(jobfile::kMaxValueUnits);
    return value;
}

}  // namespace

ScheduleList::ScheduleList(std::u16string jobsFolder, QWidget* owner)
    : m_jobsFolder(std::move(jobsFolder)), m_owner(owner) {}

JobRow ScheduleList::RowFor(const std::u16string& fileName, const std::u16string& text) {
    JobRow row;
    const bool weekly = jobfile::isWeeklyJob(text);
    row.name = valueOf(text, u"Name");
    row.type = jobfile::typeDisplayText(jobfile::leadingNumber(valueOf(text, u"Type")));
    row.frequency = weekly ? u"Weekly" : u"Daily";
    row.status = jobfile::statusDisplayText(jobfile::leadingNumber(valueOf(text, u"Status")));
    row.nextRun = valueOf(text, weekly ? u"Weekly" : u"Daily");
    row.localName = fileName;
    return row;
}

void ScheduleList::showOpenError(const std::u16string& what, uint32_t error) {
    prompts().messageBox(
        m_owner, platform::format16(u"Open file [%s] return error %d", what.c_str(), int(error)),
        u"ERROR", PromptButtons::Ok, PromptIcon::Error);
}

int32_t ScheduleList::LoadOVActiveJobs() {
    LogEntry(u"LoadOVActiveJobs");
    m_rows.clear();
    platform::FindFile search;
    platform::FindData entry;
    if (platform::FindFile::first(m_jobsFolder + u"\\*.ovj", search, entry,
                                  platform::FindFile::Detail::NoHiddenOrSystem) != 0) {
        return 0;
    }
    do {
        if (entry.attributes & platform::kAttrDirectory) continue;
        std::u16string text;
        const uint32_t status = jobfile::readJobFile(m_jobsFolder + u"\\" + entry.name, text);
        if (status != platform::kErrorSuccess) {
            showOpenError(entry.name, status);
            continue;
        }
        m_rows.push_back(RowFor(entry.name, text));
    } while (search.next(entry) == platform::kErrorSuccess);
    return static_cast<int32_t>(m_rows.size());
}

std::u16string ScheduleList::InformationCaption(const std::u16string& path) {
    return platform::format16(u"%s Information", path.c_str());
}

std::u16string ScheduleList::InformationText(const std::u16string& text) {
    const JobRow row = RowFor(u"", text);
    std::u16string info =
        platform::format16(u"Name: %s\nDescription: %s\nAction: %s\nDate/Time: %s\nStatus: %s",
                           row.name.c_str(), valueOf(text, u"Desc").c_str(), row.type.c_str(),
                           row.frequency.c_str(), row.status.c_str());
    if (info.size() > kInformationUnits) info.resize(kInformationUnits);
    return info;
}

void ScheduleList::ShowSelectedJobInfo(const std::u16string& path) {
    LogEntry(u"ShowSelectedJobInfo");
    std::u16string text;
    const uint32_t status = jobfile::readJobFile(path, text);
    if (status != platform::kErrorSuccess) {
        showOpenError(path, status);
        return;
    }
    prompts().messageBox(m_owner, InformationText(text), InformationCaption(path),
                         PromptButtons::Ok, PromptIcon::Information);
}

int32_t ScheduleList::DeleteJob(const std::u16string& localName) {
    if (localName.empty()) return 0;
    const int32_t answer =
        prompts().messageBox(m_owner, u"Are you sure you want to delete the selected job?",
                             u"Question", PromptButtons::YesNo, PromptIcon::Question);
    if (answer != kAnswerYes) return 0;
    // Only a plain name of the list: never a path out of the jobs folder.
    const bool plain = localName.find_first_of(u"\\/") == std::u16string::npos;
    const uint32_t status =
        plain ? platform::deleteFileNoPlantedLink(m_jobsFolder + u"\\" + localName)
              : platform::kErrorInvalidName;
    (void)LoadOVActiveJobs();
    return status == platform::kErrorSuccess ? 1 : 0;
}

int32_t ScheduleList::UpdateEmailNotif(bool alertsTicked, const std::u16string& address) {
    LogEntry(u"UpdateEmailNotif");
    uint32_t flag = 0;
    platform::RegKey key;
    if (alertsTicked) {
        std::u16string text = address.substr(0, 512);
        if (text.size() < 3) return 0;
        if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key) != 0)
            return 0;
        // 512 bytes: the address (cut to leave a terminator) and zeros.
        std::u16string stored(kEmailBytes / 2, u'\0');
        text.copy(stored.data(), std::min(text.size(), stored.size() - 1));
        if (key.setValue(names::kValueEMail, platform::kRegExpandSz, stored.data(), kEmailBytes) !=
            0)
            return 0;
        flag = 1;
    } else if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key) !=
               0) {
        return 0;
    }
    if (key.setValue(names::kValueNotifire, platform::kRegDword, &flag, sizeof flag) != 0) return 0;
    return 1;
}

std::u16string ScheduleList::ReadEmailAddress() {
    char16_t buffer[257] = {};
    uint32_t size = kEmailBytes;
    if (GetRegValue(names::kProductKey, names::kValueEMail, buffer, &size) != 0) return {};
    return buffer;
}
