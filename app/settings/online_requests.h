// The one-way online requests: the e-mail notice after a scan that found
// threats and the feedback. Each blocks its caller for the request and logs
// every failure with its code.
#pragma once
#include <cstdint>
#include <string>

inline constexpr char16_t kEmailNoticePath[] = u"/def/emailMngr.php?data=%s";
inline constexpr char16_t kFeedbackPath[] = u"/def/feedbackMsg.php?data=%s";
inline constexpr char16_t kNewsPath[] = u"/def/news.php";

// Payloads and URLs must fit in buffers of 8192 characters.
inline constexpr size_t kOnlineMaxUnits = 8191;

// The summary line the main dialog hands over after an infected scan.
inline constexpr char16_t kScanSummaryFormat[] =
    u"Scan Finished!, %d Object Scanned, %d Infected Found.";

// When Notifire is 1 and eMail holds an "@", sends "<eMail>|||<summary>",
// scrambled, to the notice endpoint. 1 when the request was answered.
int32_t CheckAndSendEmailNotifier(const char16_t* summary);

// Sends "<email>|||<name>|||<feedback>" to the feedback endpoint. 0 when an
// argument is null or the request failed; 1 when it was answered.
int32_t SendFeedbackOnline(const char16_t* email, const char16_t* name, const char16_t* feedback);

// The request both use: GET https://<Host><path with the encoded data>;
// the reply is not read. 1 when the server answered with a success status.
int32_t SendOnlineRequest(const char16_t* operation, const char16_t* pathFormat,
                          const std::string& encodedData);
