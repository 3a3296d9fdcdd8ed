// The feedback offer: the FeedBack state under the Settings key, the
// feedback form's checks and its sending. No Qt here.
#pragma once
#include <cstdint>
#include <string>

// FeedBack (value type 16, 4 bytes): 0 or 1357 the offer is due, 1358 it
// was shown, 1359 a feedback passed the checks.
inline constexpr uint32_t kFeedBackDue = 1357;
inline constexpr uint32_t kFeedBackShown = 1358;
inline constexpr uint32_t kFeedBackGiven = 1359;

inline constexpr char16_t kFeedbackBadEmail[] = u"Please Enter A Valide Licence Email Address.";
inline constexpr char16_t kFeedbackNoName[] = u"Please Enter Your Full Name.";
inline constexpr char16_t kFeedbackNoText[] = u"Please Type Your Feedback.";
inline constexpr char16_t kFeedbackThanks[] = u"Thanks For Your Feedback.";

// FeedBack as stored (0 when missing or unreadable).
uint32_t ReadFeedBackState();
// Writes FeedBack with type 16. 0 or the registry's code (2: no Settings key).
uint32_t WriteFeedBackState(uint32_t value);

// The first failing check's message, in the order e-mail, name, feedback;
// empty when all pass.
std::u16string CheckFeedbackFields(const std::u16string& email, const std::u16string& name,
                                   const std::u16string& feedback);

// The Send button: checks the fields; when they pass records 1359 and sends.
// Returns the status line's new text, or empty to leave it as it is (the
// sending failed and was logged).
std::u16string SubmitFeedback(const std::u16string& email, const std::u16string& name,
                              const std::u16string& feedback);
