#include "app/settings/feedback.h"

#include "app/settings/online_requests.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "platform/registry.h"

uint32_t ReadFeedBackState() {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    if (GetRegValue(names::kSettingsKey, names::kFeedBack, &value, &size) != 0) return 0;
    return value;
}

uint32_t WriteFeedBackState(uint32_t value) {
    platform::RegKey key;
    if (const uint32_t rc =
            platform::RegKey::open(platform::RegRoot::LocalMachine, names::kSettingsKey, key);
        rc != 0) {
        return rc;
    }
    return key.setValue(names::kFeedBack, names::kFeedBackValueType, &value, sizeof value);
}

std::u16string CheckFeedbackFields(const std::u16string& email, const std::u16string& name,
                                   const std::u16string& feedback) {
    if (email.find(u'@') == std::u16string::npos) return kFeedbackBadEmail;
    if (name.size() < 2) return kFeedbackNoName;
    if (feedback.size() < 2) return kFeedbackNoText;
    return {};
}

std::u16string SubmitFeedback(const std::u16string& email, const std::u16string& name,
                              const std::u16string& feedback) {
    std::u16string failed = CheckFeedbackFields(email, name, feedback);
    if (!failed.empty()) return failed;
    (void)WriteFeedBackState(kFeedBackGiven);
    if (SendFeedbackOnline(email.c_str(), name.c_str(), feedback.c_str()) == 1) {
        return kFeedbackThanks;
    }
    return {};
}
