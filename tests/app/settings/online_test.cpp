#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QVBoxLayout>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "app/settings/feedback.h"
#include "app/settings/feedback_dialog.h"
#include "app/settings/online_config.h"
#include "app/settings/online_encoding.h"
#include "app/settings/online_requests.h"
#include "app/settings/web_news.h"
#include "app/settings/web_news_qt.h"
#include "app/settings/web_pages.h"
#include "app/shell/scripted_prompts.h"
#include "common/registry_names.h"
#include "https_server_support.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings_test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::RegRoot;

constexpr char16_t kSummary[] = u"Scan Finished!, 1200 Object Scanned, 2 Infected Found.";

// One server for the whole suite: making certificates takes a moment.
class OnlineTest : public SettingsRegistryTest {
protected:
    static void SetUpTestSuite() {
        // A proxy of the machine's environment must not stand between the
        // tests and their loopback server.
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        serverFolder = new TempFolder;
        server = new TestHttpsServer;
        if (!server->start(serverFolder->path())) skipReason = server->error();
    }
    static void TearDownTestSuite() {
        delete server;
        delete serverFolder;
        server = nullptr;
        serverFolder = nullptr;
    }
    void SetUp() override {
        SettingsRegistryTest::SetUp();
        if (!skipReason.empty()) GTEST_SKIP() << "no test HTTPS server: " << skipReason;
        server->clearRequests();
        createSettingsKey();
    }

    void configure(const std::string& host, const fs::path& ca) {
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kOnlineKey, kOnlineHost,
                                        platform::toUtf16(host)),
                  0u);
        if (!ca.empty()) {
            ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kOnlineKey, kOnlineCaFile,
                                            platform::toUtf16(ca.string())),
                      0u);
        }
    }
    void configureServer() { configure(server->host(), server->caFile()); }
    void setNotice(uint32_t notifire, const std::u16string& email) {
        ASSERT_EQ(platform::writeDword(RegRoot::LocalMachine, names::kProductKey,
                                       names::kValueNotifire, notifire),
                  0u);
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, names::kProductKey,
                                        names::kValueEMail, email),
                  0u);
    }
    bool logged(const std::string& text) { return logText().find(text) != std::string::npos; }

    static inline TempFolder* serverFolder = nullptr;
    static inline TestHttpsServer* server = nullptr;
    static inline std::string skipReason;
};

// What a server does with the notice's data value.
std::u16string unscramble(const std::string& data) {
    const std::string hex = percentDecode(data);
    std::u16string out;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
        out.push_back(static_cast<char16_t>(std::stoi(hex.substr(i, 4), nullptr, 16) ^ 0x2e94));
    }
    return out;
}

std::string queryValue(const std::string& path, const std::string& prefix) {
    EXPECT_EQ(path.rfind(prefix, 0), 0u) << path;
    return path.substr(prefix.size());
}

TEST(OnlineEncoding, PercentEncodingKeepsOnlyUnreservedCharacters) {
    EXPECT_EQ(PercentEncode("aZ09-._~"), "aZ09-._~");
    EXPECT_EQ(PercentEncode("a&b#c%d e\r\n+/?="), "a%26b%23c%25d%20e%0D%0A%2B%2F%3F%3D");
    EXPECT_EQ(PercentEncode("\xc3\xa9"), "%C3%A9");
}

TEST(OnlineEncoding, ScrambledUnitsAreFourHexDigitsEach) {
    EXPECT_EQ(ScrambleEmailPayload(u"a"), "2EF5");
    EXPECT_EQ(ScrambleEmailPayload(u"|"), "2EE8");
    // A unit that scrambles to zero is kept.
    EXPECT_EQ(ScrambleEmailPayload(std::u16string(u"\x2e94"
                                                  u"a",
                                                  2)),
              "00002EF5");
}

TEST(OnlineConfigHost, OnlyHostAndPort) {
    for (const char* good : {"example.org", "127.0.0.1:8443", "[::1]:443", "my-host_1"}) {
        EXPECT_TRUE(IsHostAndPort(good)) << good;
    }
    for (const char* bad : {"", "a/b", "a?b", "a#b", "user@host", "a b", "h:", "::1", "x\n"}) {
        EXPECT_FALSE(IsHostAndPort(bad)) << bad;
    }
}

TEST_F(OnlineTest, EmailNoticeSendsTheScrambledAddressBarsAndSummary) {
    configureServer();
    const std::u16string address = u"first.last+av@example.org";
    setNotice(1, address);
    EXPECT_EQ(CheckAndSendEmailNotifier(kSummary), 1);
    const auto requests = server->requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string data = queryValue(requests[0].path, "/def/emailMngr.php?data=");
    EXPECT_EQ(data.find_first_not_of("0123456789ABCDEF"), std::string::npos) << data;
    EXPECT_EQ(unscramble(data), address + u"|||" + kSummary);
    EXPECT_EQ(requests[0].userAgent, "Mozilla/4.0 (compatible)");
    EXPECT_EQ(requests[0].cacheControl, "no-cache");
    EXPECT_TRUE(logged("In CheckAndSendEmailNotifier"));
}

TEST_F(OnlineTest, EmailNoticeNeedsNotifireOneAndAnAddress) {
    configureServer();
    const struct {
        bool setNotifire;
        uint32_t notifire;
        const char16_t* email;
    } cases[] = {
        {true, 0, u"a@b.org"},        {true, 2, u"a@b.org"}, {false, 0, u"a@b.org"},
        {true, 1, u"no-at-sign.org"}, {true, 1, u""},
    };
    for (const auto& c : cases) {
        platform::RegKey product;
        ASSERT_EQ(platform::RegKey::create(RegRoot::LocalMachine, names::kProductKey, product), 0u);
        (void)product.deleteValue(names::kValueNotifire);
        if (c.setNotifire)
            setNotice(c.notifire, c.email);
        else
            ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, names::kProductKey,
                                            names::kValueEMail, c.email),
                      0u);
        EXPECT_EQ(CheckAndSendEmailNotifier(kSummary), 0) << c.notifire;
    }
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(OnlineTest, NothingIsSentWithoutAHost) {
    setNotice(1, u"a@b.org");
    EXPECT_EQ(CheckAndSendEmailNotifier(kSummary), 0);
    EXPECT_EQ(SendFeedbackOnline(u"a@b.org", u"Jo", u"ok"), 0);
    EXPECT_TRUE(logged("CheckAndSendEmailNotifier: online services are not configured"));
    EXPECT_TRUE(logged("SendFeedbackOnline: online services are not configured"));
    configure("evil.org/path?x=", {});
    EXPECT_EQ(SendFeedbackOnline(u"a@b.org", u"Jo", u"ok"), 0);
    EXPECT_TRUE(logged("is not a host[:port]"));
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(OnlineTest, FeedbackIsPercentEncodedSoNoCharacterChangesTheRequest) {
    configureServer();
    const std::u16string email = u"me&you@example.org";
    const std::u16string name = u"Jo #1 % Co";
    const std::u16string text = u"Line one & more\r\nline two?x=1 caf\u00e9";
    EXPECT_EQ(SendFeedbackOnline(email.c_str(), name.c_str(), text.c_str()), 1);
    const auto requests = server->requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string data = queryValue(requests[0].path, "/def/feedbackMsg.php?data=");
    EXPECT_EQ(data.find_first_of("&#= ?\r\n"), std::string::npos) << data;
    EXPECT_EQ(platform::toUtf16(percentDecode(data)), email + u"|||" + name + u"|||" + text);
    EXPECT_EQ(SendFeedbackOnline(nullptr, u"Jo", u"ok"), 0);
    EXPECT_EQ(server->requests().size(), 1u);
}

TEST_F(OnlineTest, PayloadsAndUrlsThatDoNotFitAreRefusedAndSaySo) {
    configureServer();
    const std::u16string longText(8190, u'x');
    EXPECT_EQ(SendFeedbackOnline(u"a@b.org", u"Jo", longText.c_str()), 0);
    EXPECT_TRUE(logged("SendFeedbackOnline: not sent, the payload of"));
    // Fits as a payload, not once encoded into the URL.
    const std::u16string blanks(3000, u' ');
    EXPECT_EQ(SendFeedbackOnline(u"a@b.org", u"Jo", blanks.c_str()), 0);
    EXPECT_TRUE(logged("SendFeedbackOnline: not sent, the URL of"));
    setNotice(1, u"a@b.org");
    const std::u16string summary(2100, u's');
    EXPECT_EQ(CheckAndSendEmailNotifier(summary.c_str()), 0);
    EXPECT_TRUE(logged("CheckAndSendEmailNotifier: not sent, the URL of"));
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(OnlineTest, ADownServerLogsTheOpenUrlFailure) {
    configure("127.0.0.1:" + std::to_string(closedLoopbackPort()), server->caFile());
    setNotice(1, u"a@b.org");
    EXPECT_EQ(CheckAndSendEmailNotifier(kSummary), 0);
    EXPECT_TRUE(logged("Internet Open Url Failed, Code: 12029")) << logText();
}

TEST_F(OnlineTest, AnUntrustedCertificateIsRefused) {
    for (bool systemAuthorities : {false, true}) {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::create(RegRoot::LocalMachine, kOnlineKey, key), 0u);
        (void)key.deleteValue(kOnlineCaFile);
        configure(server->host(), systemAuthorities ? fs::path() : server->otherCaFile());
        EXPECT_EQ(SendFeedbackOnline(u"a@b.org", u"Jo", u"ok"), 0);
        EXPECT_TRUE(logged("Internet Open Url Failed, Code: 12045")) << logText();
    }
    EXPECT_TRUE(server->requests().empty());
}

TEST(NewsText, RepliesOfEachLength) {
    EXPECT_FALSE(NewsTextFromReply("").has_value());
    EXPECT_EQ(NewsTextFromReply("12345"), std::u16string());
    EXPECT_FALSE(NewsTextFromReply("1234").has_value());
    EXPECT_EQ(NewsTextFromReply("New definitions today.<br>"), u"New definitions today");
    const std::string of511(511, 'n');
    EXPECT_EQ(NewsTextFromReply(of511), std::u16string(506, u'n'));
    EXPECT_FALSE(NewsTextFromReply(std::string(512, 'n')).has_value());
    // The reply ends at its first zero byte.
    EXPECT_EQ(NewsTextFromReply(std::string("hello world\0tail", 16)), u"hello ");
    EXPECT_FALSE(NewsTextFromReply(std::string(1, '\0') + std::string(600, 'x')).has_value());
    // UTF-8 is the ANSI code page here.
    EXPECT_EQ(NewsTextFromReply("caf\xc3\xa9 12345"), u"caf\u00e9 ");
}

class NewsWaiter {
public:
    WebNewsLine::Changed callback() {
        return [this] {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_count;
            m_wake.notify_all();
        };
    }
    bool waitFor(int count) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_wake.wait_for(guard, std::chrono::seconds(60), [&] { return m_count >= count; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    int m_count = 0;
};

TEST_F(OnlineTest, TheNewsThreadFetchesTheLineAndStopsOnRequest) {
    configureServer();
    const struct {
        std::string reply;
        std::u16string drawn;
    } cases[] = {
        {"", u""},
        {"12345", u""},
        {std::string(511, 'a'), std::u16string(506, u'a')},
        {std::string(512, 'a'), u""},
        {"Version 1.0.1.320 is out!12345", u"Version 1.0.1.320 is out!"},
    };
    for (const auto& c : cases) {
        server->serve("/def/news.php", c.reply);
        NewsWaiter waiter;
        WebNewsLine line(waiter.callback());
        line.start();
        ASSERT_TRUE(waiter.waitFor(1));
        EXPECT_EQ(line.text(), c.drawn) << c.reply.size();
        EXPECT_TRUE(line.running());
        line.stop();  // ends the hour's wait at once
        EXPECT_FALSE(line.running());
    }
    const auto requests = server->requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    EXPECT_EQ(requests[0].path, "/def/news.php");
    EXPECT_EQ(requests[0].userAgent, "Mozilla/4.0 (compatible)");
}

TEST_F(OnlineTest, TheNewsThreadUsesNewsHostAndEndsWhenTheServerIsDown) {
    configure("127.0.0.1:" + std::to_string(closedLoopbackPort()), server->caFile());
    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kOnlineKey, kOnlineNewsHost,
                                    platform::toUtf16(server->host())),
              0u);
    server->serve("/def/news.php", "From the news host.12345");
    {
        NewsWaiter waiter;
        WebNewsLine line(waiter.callback());
        line.start();
        ASSERT_TRUE(waiter.waitFor(1));
        EXPECT_EQ(line.text(), u"From the news host.");
    }
    ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kOnlineKey, kOnlineNewsHost, u""), 0u);
    WebNewsLine line(nullptr);
    line.start();
    for (int i = 0; i < 600 && line.running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(line.running());
    EXPECT_EQ(line.text(), u"");
    EXPECT_TRUE(logged("In WebNewsThread"));
    EXPECT_TRUE(logged("Internet Open Url Failed, Code: 12029")) << logText();
}

TEST_F(OnlineTest, TheNewsLineRefetchesAfterItsInterval) {
    configureServer();
    server->serve("/def/news.php", "first12345");
    NewsWaiter waiter;
    WebNewsLine line(waiter.callback(), std::chrono::milliseconds(1));
    line.start();
    // Fetch, erase, fetch.
    ASSERT_TRUE(waiter.waitFor(3));
    line.stop();
    EXPECT_GE(server->requests().size(), 2u);
}

bool hasRedPixel(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 80 && c.blue() < 80) return true;
        }
    }
    return false;
}

TEST_F(OnlineTest, TheNewsLineIsDrawnInRedOnTheUserInterfaceThread) {
    configureServer();
    server->serve("/def/news.php", "WWWWWWWWWWWWWWWWWWWW12345");
    QWidget dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* field = new QLineEdit(&dialog);
    field->setObjectName("id1088");
    field->setReadOnly(true);
    field->setMinimumSize(400, 30);
    layout->addWidget(field);
    dialog.show();
    QApplication::processEvents();
    EXPECT_FALSE(hasRedPixel(field->grab().toImage()));
    StartWebNewsThread(&dialog);
    StartWebNewsThread(&dialog);  // once only
    ASSERT_EQ(field->findChildren<NewsLayer*>().size(), 1);
    NewsLayer* layer = field->findChild<NewsLayer*>();
    for (int i = 0; i < 1200 && layer->line().updates() == 0; ++i) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(layer->line().text(), u"WWWWWWWWWWWWWWWWWWWW");
    QApplication::processEvents();
    EXPECT_TRUE(hasRedPixel(field->grab().toImage()));
    // The thread ends with the dialog.
}

TEST(FeedbackChecks, InOrderAndTwoCharactersPass) {
    const struct {
        const char16_t* email;
        const char16_t* name;
        const char16_t* feedback;
        const char16_t* message;
    } cases[] = {
        {u"", u"", u"", kFeedbackBadEmail},   {u"nobody", u"Jo", u"ok", kFeedbackBadEmail},
        {u"a@b", u"J", u"", kFeedbackNoName}, {u"a@b", u"Jo", u"x", kFeedbackNoText},
        {u"a@b", u"Jo", u"ok", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckFeedbackFields(c.email, c.name, c.feedback), c.message)
            << platform::toUtf8(c.email) << "/" << platform::toUtf8(c.name);
    }
}

TEST_F(OnlineTest, TheFeedbackDialogSendsAndThanksAndStaysOpen) {
    configureServer();
    FeedbackDialog dialog;
    dialog.show();
    EXPECT_EQ(dialog.objectName(), "dialog145");
    dialog.setFields("Jo", "nobody", "");
    EXPECT_EQ(dialog.onCommand(1087, 0), 1);
    EXPECT_EQ(dialog.statusText().toStdU16String(), kFeedbackBadEmail);
    EXPECT_EQ(ReadFeedBackState(), 0u);
    dialog.setFields("Jo", "jo@example.org", "ok");
    dialog.findChild<QAbstractButton*>("id1087")->click();
    EXPECT_EQ(dialog.statusText().toStdU16String(), kFeedbackThanks);
    EXPECT_TRUE(dialog.isVisible());
    uint32_t value = 0, type = 0;
    ASSERT_EQ(readDword(names::kFeedBack, value, &type), 0u);
    EXPECT_EQ(value, 1359u);
    EXPECT_EQ(type, 16u);
    ASSERT_EQ(server->requests().size(), 1u);

    // A failed sending leaves the status line as it was.
    server->clearRequests();
    configure("127.0.0.1:" + std::to_string(closedLoopbackPort()), server->caFile());
    dialog.setFields("Jo", "jo@example.org", "again");
    dialog.onCommand(1087, 0);
    EXPECT_EQ(dialog.statusText().toStdU16String(), kFeedbackThanks);
    EXPECT_TRUE(dialog.isVisible());
    dialog.reject();
    EXPECT_EQ(dialog.result(), 2);
}

TEST_F(OnlineTest, TheFeedbackOfferComesOnce) {
    const struct {
        bool stored;
        uint32_t value;
        int32_t result;
        bool shown;
    } cases[] = {
        {false, 0, 1, true},    {true, 0, 1, true},     {true, 1357, 1, true},
        {true, 1358, 0, false}, {true, 1359, 1, false}, {true, 5, 0, false},
    };
    for (const auto& c : cases) {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::open(RegRoot::LocalMachine, names::kSettingsKey, key), 0u);
        (void)key.deleteValue(names::kFeedBack);
        if (c.stored) {
            ASSERT_EQ(WriteFeedBackState(c.value), 0u);
        }
        ScriptedPrompts prompts;
        EXPECT_EQ(CheckForFreeFeedback(nullptr), c.result) << c.value;
        EXPECT_EQ(prompts.questions().size(), c.shown ? 1u : 0u) << c.value;
        if (c.shown) {
            EXPECT_EQ(prompts.questions()[0].text, u"dialog145");
            EXPECT_EQ(ReadFeedBackState(), 1358u);
        } else {
            EXPECT_EQ(ReadFeedBackState(), c.value);
        }
    }
}

TEST_F(OnlineTest, WithoutTheSettingsKeyTheOfferWaits) {
    ASSERT_EQ(platform::deleteTree(RegRoot::LocalMachine, names::kSettingsKey), 0u);
    ScriptedPrompts prompts;
    EXPECT_EQ(CheckForFreeFeedback(nullptr), 0);
    EXPECT_TRUE(prompts.questions().empty());
}

class WebPagesTest : public SettingsRegistryTest {
protected:
    void SetUp() override {
        SettingsRegistryTest::SetUp();
        // A stand-in for xdg-open that records its arguments.
        fs::create_directories(folder.path() / "bin");
        record = folder.path() / "opened";
        {
            std::ofstream script(folder.path() / "bin" / "xdg-open");
            script << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" >> '" << record.string() << "'\n";
        }
        fs::permissions(folder.path() / "bin" / "xdg-open", fs::perms::owner_all);
        const char* path = getenv("PATH");
        oldPath = path != nullptr ? path : "";
        setenv("PATH", ((folder.path() / "bin").string() + ":" + oldPath).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", oldPath.c_str(), 1);
        SettingsRegistryTest::TearDown();
    }
    void page(const char16_t* id, const char16_t* address) {
        ASSERT_EQ(platform::writeString(RegRoot::LocalMachine, kOnlineKey, id, address), 0u);
    }
    std::string opened(size_t count) {
        // The opener runs on its own; wait until it has written.
        for (int i = 0; i < 600; ++i) {
            const std::string text = readBytes(record);
            if (std::count(text.begin(), text.end(), '|') >= long(count * 2)) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return readBytes(record);
    }

    fs::path record;
    std::string oldPath;
};

TEST_F(WebPagesTest, TheConfiguredPageOpensAsOneArgument) {
    page(u"32772", u"https://support.example.org/help?a=1&b=2 x");
    page(u"1017", u"https://social.example.org/orvane");
    EXPECT_EQ(DoOpenExtraOVUrl(32772), 1);
    EXPECT_EQ(opened(1), "1|https://support.example.org/help?a=1&b=2 x|");
    // 32773 opens the page of 32772.
    EXPECT_EQ(DoOpenExtraOVUrl(32773), 1);
    EXPECT_EQ(DoOpenExtraOVUrl(1017), 1);
    EXPECT_EQ(opened(3),
              "1|https://support.example.org/help?a=1&b=2 x|1|https://support.example.org/"
              "help?a=1&b=2 x|1|https://social.example.org/orvane|");
}

TEST_F(WebPagesTest, NoPageOrNoWebAddressOpensNothing) {
    page(u"32771", u"--help");
    page(u"32774", u"file:///etc/passwd");
    EXPECT_EQ(DoOpenExtraOVUrl(32775), 0);
    EXPECT_EQ(DoOpenExtraOVUrl(32771), 0);
    EXPECT_EQ(DoOpenExtraOVUrl(32774), 0);
    EXPECT_EQ(DoOpenExtraOVUrl(4242), 0);
    EXPECT_TRUE(logText().find("no web page is configured for 32775") != std::string::npos);
    page(u"32798", u"https://friend.example.org/");
    EXPECT_EQ(DoOpenExtraOVUrl(32798), 1);
    EXPECT_EQ(opened(1), "1|https://friend.example.org/|");
}

}  // namespace
