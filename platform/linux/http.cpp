// HTTPS GET on libcurl.
#include "platform/http.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/error.h"

namespace platform {

namespace {

std::once_flag gCurlInit;
CURLcode gCurlInitResult = CURLE_OK;

uint32_t statusOfCurl(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return kErrorSuccess;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return kInternetInvalidUrl;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return kInternetNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kInternetCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kInternetTimeout;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return kInternetInvalidCa;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return kInternetSecurityChannelError;
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
            return kInternetConnectionAborted;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_BAD_CONTENT_ENCODING:
            return kInternetInvalidServerResponse;
        case CURLE_TOO_MANY_REDIRECTS:
            return kInternetRedirectFailed;
        case CURLE_ABORTED_BY_CALLBACK:
            return kInternetCancelled;
        case CURLE_OUT_OF_MEMORY:
            return kErrorNotEnoughMemory;
        default:
            return kInternetInternalError;
    }
}

struct Transfer {
    HttpsReply* reply;
    size_t limit;
    bool full = false;  // the body reached the limit: the rest is not wanted
    const std::function<bool()>* shouldStop;
    const std::function<void(uint64_t, uint64_t)>* progress;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    std::string& body = transfer->reply->body;
    const size_t room = transfer->limit - body.size();
    if (bytes > room) {
        body.append(data, room);
        transfer->full = true;
        return 0;  // ends the transfer; reported as a write error and taken as done
    }
    body.append(data, bytes);
    return bytes;
}

int onProgress(void* user, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (*transfer->progress) {
        (*transfer->progress)(received > 0 ? uint64_t(received) : 0,
                              total > 0 ? uint64_t(total) : 0);
    }
    return (*transfer->shouldStop && (*transfer->shouldStop)()) ? 1 : 0;
}

}  // namespace

struct HttpsClient::State {
    CURL* curl = nullptr;
    ~State() {
        if (curl != nullptr) curl_easy_cleanup(curl);
    }
};

HttpsClient::HttpsClient() : m_state(std::make_unique<State>()) {}
HttpsClient::~HttpsClient() = default;

uint32_t HttpsClient::open() {
    std::call_once(gCurlInit, [] { gCurlInitResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (gCurlInitResult != CURLE_OK)
        return setLastError(kInternetInternalError), kInternetInternalError;
    if (m_state->curl == nullptr) m_state->curl = curl_easy_init();
    if (m_state->curl == nullptr)
        return setLastError(kInternetInternalError), kInternetInternalError;
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

uint32_t HttpsClient::get(const std::string& url, const HttpsOptions& options, HttpsReply& reply) {
    reply = HttpsReply{};
    if (m_state->curl == nullptr) {
        reply.failedStep = HttpsStep::Open;
        return kInternetInternalError;
    }
    CURL* curl = m_state->curl;
    curl_easy_reset(curl);
    Transfer transfer{&reply, options.maxBodyBytes, false, &options.shouldStop, &options.progress};
    char errorText[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpUserAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, options.stallTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    reply.status = status;
    if (code == CURLE_WRITE_ERROR && transfer.full) code = CURLE_OK;
    if (code == CURLE_OK) {
        setLastError(kErrorSuccess);
        return kErrorSuccess;
    }
    reply.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    reply.failedStep = status > 0 ? HttpsStep::Read : HttpsStep::Open;
    const uint32_t result = statusOfCurl(code);
    setLastError(result);
    return result;
}

uint32_t canonicalizeHttpsUrl(const std::string& url, std::string& out) {
    out.clear();
    CURLU* handle = curl_url();
    if (handle == nullptr) return kErrorNotEnoughMemory;
    uint32_t result = kInternetInvalidUrl;
    char* scheme = nullptr;
    char* text = nullptr;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        std::string(scheme) == "https" &&
        curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK) {
        out = text;
        result = kErrorSuccess;
    }
    curl_free(scheme);
    curl_free(text);
    curl_url_cleanup(handle);
    setLastError(result);
    return result;
}

}  // namespace platform
