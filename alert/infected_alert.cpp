#include "alert/infected_alert.h"

#include "platform/detached_process.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

InfectedFileAlert::InfectedFileAlert(std::u16string path, std::string programFolder,
                                     Prompts& prompts)
    : m_path(std::move(path)),
      m_fieldText(m_path),
      m_programFolder(std::move(programFolder)),
      m_prompts(prompts) {}

bool InfectedFileAlert::deleteFile() {
    if (platform::deleteFileNoPlantedLink(m_path) == platform::kErrorSuccess) return true;
    // A read-only file goes on the second attempt, its other attributes kept.
    const uint32_t attributes = platform::getFileAttributes(m_path);
    if (attributes == platform::kInvalidAttributes) return false;
    if (platform::setFileAttributesNoPlantedLink(m_path, attributes & ~platform::kAttrReadOnly) !=
        platform::kErrorSuccess) {
        return false;
    }
    return platform::deleteFileNoPlantedLink(m_path) == platform::kErrorSuccess;
}

void InfectedFileAlert::onDelete(QWidget* owner) {
    // The whole path is asked about and shown, however long it is: a
    // shortened path would name another file.
    const std::u16string question = platform::format16(kDeleteQuestion, m_path.c_str());
    if (m_prompts.messageBox(owner, question, kDeleteCaption, PromptButtons::YesNo,
                             PromptIcon::Question) == kAnswerYes) {
        if (!deleteFile()) {
            m_deleted = false;
            return;
        }
        m_deleted = true;
    }
    if (m_deleted) m_fieldText += kDeletedSuffix;
}

uint32_t InfectedFileAlert::onLaunch() const {
    std::string program = m_programFolder;
    if (program.empty() || program.back() != '/') program += '/';
    program += kApplicationName;
    return platform::startDetachedProcess({program}, {});
}

bool InfectedFileAlert::onExit(QWidget* owner) {
    if (m_deleted) return true;
    return m_prompts.messageBox(owner, kExitQuestion, kExitCaption, PromptButtons::YesNo,
                                PromptIcon::Warning) == kAnswerYes;
}
