#include "app/settings/web_news.h"


#include "app/settings/online_config.h"
#include "app/settings/online_requests.h"
#include "app/shell/app_log.h"
#include "platform/http.h"
#include "platform/text.h"

namespace {
constexpr size_t kNewsReadBytes = 8192;
}  // namespace

WebNewsLine::WebNewsLine(Changed changed, std::chrono::milliseconds interval)
    : m_changed(std::move(changed)), m_interval(interval) {}

WebNewsLine::~WebNewsLine() { stop(); }

void WebNewsLine::start() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_started) return;
    m_started = true;
    m_thread = std::thread([this] { WebNewsThread(*this); });
}

void WebNewsLine::stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool WebNewsLine::running() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_started && !m_ended;
}

std::u16string WebNewsLine::text() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_text;
}

uint64_t WebNewsLine::updates() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_updates;
}

void WebNewsLine::publish(std::optional<std::u16string> text) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_text = text.value_or(std::u16string());
        ++m_updates;
    }
    if (m_changed) m_changed();
}

bool WebNewsLine::waitInterval() {
    std::unique_lock<std::mutex> guard(m_lock);
    return !m_wake.wait_for(guard, m_interval, [this] { return m_stop; });
}

void WebNewsThread(WebNewsLine& line) {
    LogEntry(u"WebNewsThread");
    const auto stopped = [&line] {
        std::lock_guard<std::mutex> guard(line.m_lock);
        return line.m_stop;
    };
    const auto end = [&line] {
        std::lock_guard<std::mutex> guard(line.m_lock);
        line.m_ended = true;
    };
    while (!stopped()) {
        OnlineConfig config;
        if (LoadOnlineConfig(u"WebNewsThread", config) == 0) return end();
        platform::HttpsClient client;
        if (const uint32_t rc = client.open(); rc != 0) {
            gAppLog.Write(u"WebNewsThread:Internet Open Failed, Code: %d", int(rc));
            return end();
        }
        std::string url = "https://" + config.newsHost + platform::toUtf8(kNewsPath);
        std::string canonical;
        if (const uint32_t rc = platform::canonicalizeHttpsUrl(url, canonical); rc != 0) {
            gAppLog.Write(u"Internet Canonicalize Url Failed, Code: %d", int(rc));
            canonical = url;
        }
        platform::HttpsOptions options;
        options.caFile = config.caFile;
        options.maxBodyBytes = kNewsReadBytes;
        options.shouldStop = stopped;
        platform::HttpsReply reply;
        const uint32_t rc = client.get(canonical, options, reply);
        if (rc == platform::kInternetCancelled && stopped()) return end();
        if (rc != 0 && reply.failedStep == platform::HttpsStep::Read) {
            gAppLog.Write(u"Internet Read File Failed, Code: %d", int(rc));
            return end();
        }
        if (rc != 0 || reply.status < 200 || reply.status >= 300) {
            gAppLog.Write(u"Internet Open Url Failed, Code: %d",
                          rc != 0 ? int(rc) : int(reply.status));
            if (!reply.error.empty()) {
                gAppLog.Write(u"WebNewsThread: %s", platform::toUtf16(reply.error).c_str());
            }
            return end();
        }
        line.publish(NewsTextFromReply(reply.body));
        if (!line.waitInterval()) return end();
        line.publish(std::nullopt);  // the hourly redraw erases the old text
    }
    end();
}
