// HTTPS GET for the online services and the updater.
//
// Every request goes out with the user agent "Mozilla/4.0 (compatible)",
// asks caches along the way not to answer from a stored copy and keeps
// nothing itself, takes the proxy from libcurl's environment (https_proxy,
// all_proxy, no_proxy), and checks the server's certificate and host name
// against the system's certificate authorities or the caFile given. The
// checks are never turned off: a server that cannot be verified fails.
// Only https:// addresses are fetched, redirects included.
//
// Status codes are those of the Windows Internet functions:
//   12004 internal error, 12005 invalid URL, 12002 timeout,
//   12007 host name not resolved, 12029 cannot connect, 12030 connection
//   aborted, 12045 the certificate is not trusted (or the CA file is bad),
//   12152 invalid server reply, 12156 redirect failed, 12157 secure channel
//   error, 1223 cancelled, 8 out of memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

inline constexpr char kHttpUserAgent[] = "Mozilla/4.0 (compatible)";

inline constexpr uint32_t kInternetTimeout = 12002;
inline constexpr uint32_t kInternetInternalError = 12004;
inline constexpr uint32_t kInternetInvalidUrl = 12005;
inline constexpr uint32_t kInternetNameNotResolved = 12007;
inline constexpr uint32_t kInternetCannotConnect = 12029;
inline constexpr uint32_t kInternetConnectionAborted = 12030;
inline constexpr uint32_t kInternetInvalidCa = 12045;
inline constexpr uint32_t kInternetInvalidServerResponse = 12152;
inline constexpr uint32_t kInternetRedirectFailed = 12156;
inline constexpr uint32_t kInternetSecurityChannelError = 12157;
inline constexpr uint32_t kInternetCancelled = 1223;

struct HttpsOptions {
    std::string caFile;          // PEM file of the authorities to trust; empty = the system's
    size_t maxBodyBytes = 8192;  // the reply body is read up to this many bytes
    long connectTimeoutSeconds = 30;
    long stallTimeoutSeconds = 60;     // a transfer that moves nothing this long fails
    std::function<bool()> shouldStop;  // polled during the transfer; true cancels it
    // Called now and then during the transfer: body bytes so far and the
    // expected total (0 while unknown).
    std::function<void(uint64_t received, uint64_t total)> progress;
};

// Which step of a request failed.
enum class HttpsStep { None, Open, Read };

struct HttpsReply {
    long status = 0;   // the HTTP status; 0 when no reply arrived
    std::string body;  // at most maxBodyBytes
    HttpsStep failedStep = HttpsStep::None;
    std::string error;  // libcurl's reason, for the log
};

// One client, as an Internet handle: made once, used for any number of
// requests on the thread that made it.
class HttpsClient {
public:
    HttpsClient();
    ~HttpsClient();
    HttpsClient(const HttpsClient&) = delete;
    HttpsClient& operator=(const HttpsClient&) = delete;

    // 0, or 12004 when the library cannot be set up.
    [[nodiscard]] uint32_t open();

    // GET of an https:// URL. 0 when a reply arrived, whatever its status
    // (reply.status tells); else the code of the step that failed
    // (reply.failedStep: Open before any reply, Read while the body came).
    [[nodiscard]] uint32_t get(const std::string& url, const HttpsOptions& options,
                               HttpsReply& reply);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Checks and normalises an https:// URL as libcurl's URL parser writes it
// back (scheme in lower case, an empty path as "/", the query as it
// stands). 0, or 12005 when it is not a valid https:// URL.
[[nodiscard]] uint32_t canonicalizeHttpsUrl(const std::string& url, std::string& out);

}  // namespace platform
